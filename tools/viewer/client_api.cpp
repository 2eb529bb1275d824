#include "client_api.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <type_traits>

namespace kesto::viewer {

ClientLibrary::~ClientLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool ClientLibrary::Load(const std::string& path, std::string& error) {
    // RTLD_NODELETE: the library stays mapped after dlclose, as it does in a host that keeps
    // it for its whole life. Unmapping it would turn the display objects it still keeps in
    // its statics into allocations nothing points to (LeakSanitizer reports them).
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason");
        return false;
    }
    bool complete = true;
    auto bind = [&](auto& function, const char* name) {
        void* symbol = dlsym(handle_, name);
        if (symbol == nullptr) {
            error += std::string(error.empty() ? "" : ", ") + name;
            complete = false;
        }
        // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(symbol);
    };
    bind(api_.SetCallbackFunc, "SetCallbackFunc");
    bind(api_.SetAzCallbackFunc, "SetAzCallbackFunc");
    bind(api_.StartServerStream, "StartServerStream");
    bind(api_.StopServerStream, "StopServerStream");
    bind(api_.DestroyClient, "DestroyClient");
    bind(api_.SetRotationOffset, "SetRotationOffset");
    bind(api_.SetCurrentZoomFactor, "SetCurrentZoomFactor");
    bind(api_.SaveVideoFrameRawToDisk, "SaveVideoFrameRawToDisk");
    bind(api_.SaveVideoSegmentRawToDisk, "SaveVideoSegmentRawToDisk");
    bind(api_.GetStreamStat, "GetStreamStat");
    bind(api_.SetSize, "SetSize");
    bind(api_.GetBackBufferNoRef, "GetBackBufferNoRef");
    bind(api_.Render, "Render");
    bind(api_.DestroyD3D, "DestroyD3D");
    if (!complete) error = path + " lacks the export(s) " + error;
    return complete;
}

std::string DefaultLibraryPath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "libKestoVideoClient.so";
    std::string folder(self, static_cast<std::size_t>(length));
    folder.resize(folder.rfind('/'));
    // Installed (bin/ and the install's library folder) or in the build tree (bin/ and lib/);
    // neither (a copied binary): let the dynamic loader search its usual places.
    for (const char* relative :
         {"/" KESTO_VIEWER_LIBRARY_RELATIVE_PATH, "/../lib/libKestoVideoClient.so"}) {
        const std::string candidate = folder + relative;
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return "libKestoVideoClient.so";
}

}  // namespace kesto::viewer
