#include "report.h"

#include "output.h"
#include "text.h"
#include "tray.h"

static HWND reportWindow = NULL;

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string result((size_t)size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &result[0], size, NULL, NULL);
    return result;
}

std::wstring wide(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0);
    std::wstring result((size_t)size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &result[0], size);
    return result;
}

bool outputRedirected() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == NULL || output == INVALID_HANDLE_VALUE)
        return false;
    DWORD type = GetFileType(output);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

void writeOutputLine(const std::string& text) {
    if (!outputRedirected())
        return;
    std::string line = text + "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), (DWORD)line.size(), &written, NULL);
}

void reportTo(HWND window) {
    reportWindow = window;
}

enum { kNews = 0, kFailure = 1 };

static void tell(int kind, const std::string& text) {
    // The window thread says it, so lines come out in the order they were posted; a report
    // made before the window exists, or after it is gone, is written at once.
    std::string* message = new std::string(text);
    if (reportWindow == NULL || !PostMessageW(reportWindow, kTellMessage, kind, (LPARAM)message)) {
        handleTell(kind, (LPARAM)message);
    }
}

void tellNews(const std::string& text) {
    tell(kNews, text);
}

void tellFailure(const std::string& text) {
    tell(kFailure, text);
}

void handleTell(WPARAM wParam, LPARAM lParam) {
    std::string* message = (std::string*)lParam;
    writeOutputLine(*message);
    if (wParam == kFailure)
        showBalloon(*message);
    delete message;
}

void statusChanged() {
    if (reportWindow != NULL)
        PostMessageW(reportWindow, kStatusMessage, 0, 0);
}

std::wstring statusTooltip(const ListenStatus& now) {
    std::wstring tip = wide(statusText(now));
    // The tray keeps 127 characters of a tooltip.
    if (tip.size() > 127)
        tip = tip.substr(0, 124) + L"...";
    return tip;
}
