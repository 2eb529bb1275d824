// The one stream of the process, for the exports that pass requests on to it.
#pragma once

namespace kesto {

class IStreamManager;

// The current stream manager or null. No lock: the host calls the stream exports from one
// thread at a time.
IStreamManager* CurrentStreamManager();

}  // namespace kesto
