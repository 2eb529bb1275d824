// What tests do differently on Windows and POSIX: choosing the decoder library the client
// binds, and loading a library themselves (to drive the test decoder or the FFmpeg decoder
// directly).
#pragma once

#include <string>

namespace kesto::test {

// Names the decoder library the client loads on its next binding; null or empty restores the
// default (the FFmpeg stand-in under its default name). POSIX: this process's environment
// variable KESTO_DECODER_LIB. Windows: the registry value MalvoVideoDecoderLib of
// HKCU\Software\Corvexa\Kesto, which every process of the user (the Wine prefix) sees; tests
// that call this are registered with DECODER_SETTING so that they never overlap.
void SetDecoderLibrarySetting(const char* path);

// The message the client reports when the decoder library at `path` cannot be loaded because
// there is no such file: "Unable to load <path>: <the system's text>".
std::string MissingLibraryMessage(const std::string& path);
// What the system's text says about a library lacking the export `name`, for a substring match.
std::string MissingSymbolText(const std::string& name);
// A path where no library exists, in the platform's form.
std::string NoSuchLibraryPath();
// True in a Windows program running under Wine.
bool UnderWine();

// Loads a library the way the client does (dlopen RTLD_NOW|RTLD_LOCAL / LoadLibraryA). A
// second load of the same file gives the same instance, with the client's binding and the
// test sharing its state.
class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool Loaded() const { return handle != nullptr; }
    // Why the load failed (dlerror / the Win32 error code); empty when it did not.
    const std::string& Error() const { return error; }
    void* Symbol(const char* name) const;

  private:
    void* handle = nullptr;
    std::string error;
};

}  // namespace kesto::test
