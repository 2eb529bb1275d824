// A host that keeps the client library in a folder of its own, as a .NET host keeps a package's
// native libraries: it loads the client by full path, plays a generated recording and prints
// every message and the files the decoder and its toolkit were loaded from. A third argument
// names a folder the host adds to its DLL search (AddDllDirectory), as a host does for a
// vendor's toolkit. check_decoder_location.cmake stages the folders (client, decoder, toolkit,
// decoys) and judges the output. Exit 0 once azimuth records have come through the decoder.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "kesto/video_client.h"
#include "recordings.h"
#include "streamgen.h"

namespace {
std::atomic<int> azimuths{0};

void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t) {
    if (text != nullptr) std::printf("message %d: %s\n", code, text);
}
void KESTO_CALL OnAzimuth(double) {
    ++azimuths;
}

template <typename Fn>
Fn Export(HMODULE client, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(client, name)));
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) return 2;  // client DLL, folder for the recording, DLL folder
    if (argc == 4) {
        std::wstring folder(argv[3], argv[3] + std::strlen(argv[3]));  // ASCII
        for (wchar_t& c : folder) c = c == L'/' ? L'\\' : c;
        if (AddDllDirectory(folder.c_str()) == nullptr) return 2;
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Corvexa\\Kesto", "MalvoVideoDecoderLib");
    const HMODULE client = LoadLibraryA(argv[1]);
    if (client == nullptr) return 2;

    const std::string recording = std::string(argv[2]) + "\\location.h264";
    kesto::streamgen::WriteRecording(recording, kesto::test::GeneratePackets(10, 128, 10));

    Export<decltype(&SetCallbackFunc)>(client, "SetCallbackFunc")(&OnMessage);
    Export<decltype(&SetAzCallbackFunc)>(client, "SetAzCallbackFunc")(&OnAzimuth);
    Export<decltype(&StartServerStream)>(client, "StartServerStream")(
        "location", ("file://" + recording).c_str());
    for (int i = 0; i < 200 && azimuths < 3; ++i) Sleep(50);
    Export<decltype(&DestroyClient)>(client, "DestroyClient")();

    for (const char* name : {"Corvexa.Kesto.VideoDecoderFF.dll", "KestoToolkit.dll"}) {
        char path[MAX_PATH] = "none";
        if (const HMODULE module = GetModuleHandleA(name))
            GetModuleFileNameA(module, path, MAX_PATH);
        std::printf("%s loaded from: %s\n", name, path);
    }
    std::printf("azimuth records: %d\n", azimuths.load());
    return azimuths >= 3 ? 0 : 1;
}
