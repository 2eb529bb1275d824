// A vendor's toolkit DLL that a decoder imports from a folder of its own. Built once as the
// toolkit and once into a decoder that imports it, so that loading the decoder needs the folder.
#include <windows.h>

#if defined(KESTO_TOOLKIT_IMPORT)
extern "C" __declspec(dllimport) int KestoToolkitVersion();
[[maybe_unused]] static const int toolkitVersion = KestoToolkitVersion();
#else
extern "C" __declspec(dllexport) int KestoToolkitVersion() {
    return 1;
}
#endif
