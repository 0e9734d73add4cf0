#include "platform/unique_handle.h"

namespace platform {

MutexHold UniqueMutex::Acquire(DWORD timeoutMs, HANDLE stopEvent) const noexcept {
    const HANDLE handles[] = {get(), stopEvent};
    const DWORD handleCount = stopEvent != nullptr ? 2 : 1;
    switch (WaitForMultipleObjects(handleCount, handles, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0:
        return MutexHold(get(), MutexHold::Outcome::Acquired);
    case WAIT_ABANDONED_0:
        return MutexHold(get(), MutexHold::Outcome::Abandoned);
    case WAIT_OBJECT_0 + 1:
        return MutexHold(nullptr, MutexHold::Outcome::Stopped);
    case WAIT_TIMEOUT:
        return MutexHold(nullptr, MutexHold::Outcome::TimedOut);
    default:
        return MutexHold(nullptr, MutexHold::Outcome::Failed);
    }
}

}  // namespace platform
