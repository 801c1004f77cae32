// SPDX-License-Identifier: MIT
// velmorin.exe: the operator's window on Windows. --help and --version
// answer on standard output (where there is one, or the console the program
// was started from) and open no window.
#include <windows.h>
// The headers below need the types of <windows.h>.
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include "gui-win32/application.h"
#include "gui-win32/main_dialog.h"
#include "gui-win32/resource_ids.h"
#include "gui-win32/wide_text.h"
#include "online/catalogue.h"
#include "session/startup.h"

namespace {

using namespace velmorin::win32;

constexpr char kUsage[] =
    "Usage: velmorin [--help] [--version]\n"
    "The window of the Kestrion charger firmware update tool: lists the connected\n"
    "chargers, checks an update file and writes it into the selected charger.\n"
    "velmorin-cli does the same from a console.\n";

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; words != nullptr && i < count; ++i) {
        arguments.emplace_back(words[i]);
    }
    ::LocalFree(words);
    return arguments;
}

// A program without a console writes into the one it was started from, if
// its output is not redirected elsewhere.
void Print(const std::string& text) {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if ((output == nullptr || output == INVALID_HANDLE_VALUE) &&
        ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void ShowStartupMessage(const std::string& text) {
    ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(ApplicationName()).c_str(),
                  MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const std::vector<std::wstring> arguments = Arguments();
    for (const std::wstring& argument : arguments) {
        if (argument == L"--help") {
            Print(kUsage);
            return 0;
        }
        if (argument == L"--version") {
            Print("velmorin " + std::string(velmorin::kOwnVersion) + "\n");
            return 0;
        }
    }

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
    // The file choosers and the shell's opening of addresses run COM objects
    // on this thread.
    if (FAILED(::OleInitialize(nullptr))) {
        wchar_t text[256] = L"";
        ::LoadStringW(instance, ID_TEXT_OLE_FAILED, text, static_cast<int>(std::size(text)));
        ShowStartupMessage(Narrow(text));
        return 1;
    }

    velmorin::StartupHooks hooks;
    hooks.showMessage = ShowStartupMessage;
    hooks.runMainDialog = [] {
        try {
            MainDialog dialog;
            dialog.RunModal();
        } catch (const std::exception& error) {
            ShowStartupMessage(error.what());
        }
    };
    std::vector<std::string> texts;
    for (const std::wstring& argument : arguments) {
        texts.push_back(Narrow(argument));
    }
    velmorin::RunStartup(texts, ApplicationName(), hooks);
    ::OleUninitialize();
    return 0;
}
