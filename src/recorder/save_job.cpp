#include "recorder/save_job.h"

namespace recorder {

SaveResult runSave(const SaveRequest&, platform::Files&, platform::Media*)
{
    return {false, L"Save failed"};
}

} // namespace recorder
