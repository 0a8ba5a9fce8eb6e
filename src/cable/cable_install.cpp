// Placeholder: the install flow lands here.
#include "cable/cable.h"

namespace cable {

Cable::Next Cable::requestInstall() { return Next::Nothing; }
void Cable::downloadPackage() {}
bool Cable::extractPackage(const std::wstring&, const std::wstring&) { return false; }
std::wstring Cable::findInstaller(const std::wstring&) { return {}; }
std::function<void()> Cable::startInstaller() { return {}; }

} // namespace cable
