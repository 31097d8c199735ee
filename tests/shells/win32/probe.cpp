// A small program the Windows tests start as a process of its own:
//   kivo_probe                  started as an installer would be: writes its
//                               command line into "<its own path>.ran"
//   kivo_probe start [EVENT]    the program's start-up up to the main window:
//                               exit 3 when another copy runs; otherwise 0, or,
//                               given EVENT, sets that named event and waits
//                               until it is ended, holding the guard
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>

#include "app/HotListApp.h"
#include "platform/System.h"

namespace {

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out << text);
}

int Start(const char* eventName) {
    if (!theApp.InitInstance()) return 3;
    if (eventName == nullptr) return 0;
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
    if (event == nullptr || !SetEvent(event)) return 4;
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) return WriteFile(kivo::platform::ExecutablePath() + ".ran", GetCommandLineA()) ? 0 : 1;
    if (std::strcmp(argv[1], "start") == 0) return Start(argc > 2 ? argv[2] : nullptr);
    return 2;
}
