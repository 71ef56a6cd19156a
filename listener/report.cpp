#include "report.h"

#include <mutex>

#include "text.h"
#include "tray.h"

static HWND reportWindow = NULL;
static std::mutex statusMutex;
static ListenStatus status;

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

static void statusChanged() {
    if (reportWindow != NULL)
        PostMessageW(reportWindow, kStatusMessage, 0, 0);
}

// Changes the status under its lock, then has the tooltip follow.
template <typename Change> static void changeStatus(Change change) {
    {
        std::lock_guard<std::mutex> lock(statusMutex);
        change(status);
    }
    statusChanged();
}

void setStatusMode(const std::string& mode) {
    changeStatus([&](ListenStatus& now) { now.mode = mode; });
}

void setStatusPort(int port) {
    changeStatus([&](ListenStatus& now) { now.port = port; });
}

void setStatusListening(const std::string& listening) {
    changeStatus([&](ListenStatus& now) { now.listening = listening; });
}

void setStatusLit(bool lit) {
    changeStatus([&](ListenStatus& now) { now.lit = lit; });
}

ListenStatus currentStatus() {
    std::lock_guard<std::mutex> lock(statusMutex);
    return status;
}

std::wstring statusTooltip(const ListenStatus& now) {
    std::string first = "Lumo Listen: " + now.mode + " on COM" + std::to_string(now.port) +
                        (now.lit ? ", cube lit" : ", cube dark");
    std::string second = "Listening to " + now.listening;
    std::wstring tip = wide(first + "\n" + second);
    // The tray keeps 127 characters of a tooltip.
    if (tip.size() > 127)
        tip = tip.substr(0, 124) + L"...";
    return tip;
}
