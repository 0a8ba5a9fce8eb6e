// Placeholder: the status worker and the rename land here.
#include "cable/cable.h"

namespace cable {

struct Cable::Status {};

Cable::Cable(CableServices services) : services_(std::move(services)), status_(std::make_unique<Status>()) {}
Cable::~Cable() { stopStatusWorker(); }

bool Cable::detectCableCapture() { return false; }
void Cable::statusPass() {}
void Cable::startStatusWorker(std::function<void()>, std::function<void()>) {}
void Cable::stopStatusWorker() {}
bool Cable::renameCableCapture(const std::wstring&, const std::wstring&) { return false; }

} // namespace cable
