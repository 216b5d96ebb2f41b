#include "platform/process.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/win32/system_error.h"


namespace quelvar::platform {

namespace {

// A service, or a task run without a logged-on user, has a window station
// that nobody sees: a message box there would wait for ever.
bool desktopVisible() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    return station != nullptr && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

namespace {

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A windowless program started from a console has no handles of its own:
// it writes to that console, if there is one.
HANDLE standardHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (usable(handle)) return handle;
    static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (!attached) return nullptr;
    static const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
    return console;
}

void writeTo(DWORD which, std::string_view bytes) {
    const HANDLE handle = standardHandle(which);
    if (!usable(handle)) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

}  // namespace

void writeStandardError(std::string_view bytes) { writeTo(STD_ERROR_HANDLE, bytes); }

void writeStandardOutput(std::string_view bytes) { writeTo(STD_OUTPUT_HANDLE, bytes); }

bool showOperatorWarning(std::wstring_view caption, std::wstring_view text) {
    const std::wstring shownCaption(caption);
    const std::wstring shownText(text);
    // No owner window: a message box owned by the desktop window would
    // disable the desktop while it is shown.
    return desktopVisible() && MessageBoxW(nullptr, shownText.c_str(), shownCaption.c_str(),
                                           MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND) == IDOK;
}

namespace {

std::atomic<bool> stopAsked{false};

// Set once the process has stopped as asked; a console's close, log-off or
// shutdown ends the process as soon as its handler returns.
HANDLE stoppedEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    stopAsked = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows gives a handler about five seconds.
        if (stoppedEvent != nullptr) WaitForSingleObject(stoppedEvent, 4500);
    }
    return TRUE;
}

// The service this process runs as, if it runs as one, and what the
// service manager was told last. The manager's control requests come on
// the thread that called runAsService, the collector runs on another.
std::wstring serviceName;
int (*serviceCollector)() = nullptr;
std::atomic<int> collectorStatus{1};
SERVICE_STATUS_HANDLE serviceHandle = nullptr;
std::mutex serviceLock;
SERVICE_STATUS serviceStatus{};

// The manager gives a service that long between two reports before it
// takes it for hung. The start reads the settings and makes the day's
// files in every folder; the receive loop sees a stop within a second.
constexpr DWORD startWaitHint = 30000;
constexpr DWORD stopWaitHint = 10000;

// With serviceLock held.
void reportService(DWORD state, DWORD exitStatus) {
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    serviceStatus.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    serviceStatus.dwServiceSpecificExitCode = exitStatus;
    serviceStatus.dwCheckPoint = pending ? serviceStatus.dwCheckPoint + 1 : 0;
    serviceStatus.dwWaitHint = state == SERVICE_START_PENDING  ? startWaitHint
                               : state == SERVICE_STOP_PENDING ? stopWaitHint
                                                               : 0;
    SetServiceStatus(serviceHandle, &serviceStatus);
}

DWORD WINAPI onServiceControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN: {
            const std::lock_guard<std::mutex> lock(serviceLock);
            if (serviceStatus.dwCurrentState == SERVICE_RUNNING) reportService(SERVICE_STOP_PENDING, 0);
            stopAsked = true;
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
            // The manager has the last report.
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI runService(DWORD, LPWSTR*) {
    serviceHandle = RegisterServiceCtrlHandlerExW(serviceName.c_str(), onServiceControl, nullptr);
    // Without a handle nothing can be reported, not even the end.
    if (serviceHandle == nullptr) return;
    {
        const std::lock_guard<std::mutex> lock(serviceLock);
        reportService(SERVICE_START_PENDING, 0);
    }
    collectorStatus = serviceCollector();
    const std::lock_guard<std::mutex> lock(serviceLock);
    // The manager may end the process from here on.
    reportService(SERVICE_STOPPED, static_cast<DWORD>(collectorStatus));
}

}  // namespace

void watchStopRequests() {
    // A service hears of every user's log-off on its console handler; it
    // stops when the service manager says so.
    if (serviceHandle != nullptr) return;
    if (stoppedEvent == nullptr) stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested() { return stopAsked; }

void requestStop() { stopAsked = true; }

void reportStopped() {
    if (stoppedEvent != nullptr) SetEvent(stoppedEvent);
}

// A service runs from the moment its receive loop listens.
void notifyServiceManager(std::string_view state) {
    if (state != "READY=1" || serviceHandle == nullptr) return;
    const std::lock_guard<std::mutex> lock(serviceLock);
    if (serviceStatus.dwCurrentState == SERVICE_START_PENDING) reportService(SERVICE_RUNNING, 0);
}

namespace {

// A handle of the service manager's, closed at the end of its scope.
class ServiceManagerHandle {
public:
    explicit ServiceManagerHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceManagerHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ServiceManagerHandle(const ServiceManagerHandle&) = delete;
    ServiceManagerHandle& operator=(const ServiceManagerHandle&) = delete;
    explicit operator bool() const { return handle_ != nullptr; }
    SC_HANDLE get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// The service manager's refusals in words an operator acts on.
Status serviceError(const char* operation, const std::string& subject, DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return Status::error(Status::Code::failed, operation, subject,
                                 "access denied: it needs an administrator (a command prompt run as administrator)");
        case ERROR_SERVICE_EXISTS:
            return Status::error(Status::Code::exists, operation, subject, "a service of that name exists already");
        case ERROR_DUPLICATE_SERVICE_NAME:
            return Status::error(Status::Code::exists, operation, subject,
                                 "another service has that display name already");
        case ERROR_SERVICE_DOES_NOT_EXIST:
            return Status::error(Status::Code::notFound, operation, subject, "no service of that name is installed");
        case ERROR_SERVICE_MARKED_FOR_DELETE:
            return Status::error(Status::Code::busy, operation, subject,
                                 "it is being removed already, and goes once no program holds it open (such as "
                                 "the Services console)");
        default:
            return systemError(operation, subject, error);
    }
}

}  // namespace

Status installService(const ServiceDefinition& service, std::string& commandLine) {
    commandLine.clear();
    const std::string subject = wideToAnsi(service.name);
    const std::string executable = executablePath();
    if (executable.empty())
        return Status::error(Status::Code::failed, "install service", subject,
                             "the path of the executable cannot be named in the ANSI code page");
    const std::wstring command = L"\"" + widePath(executable) + L"\" " + std::wstring(service.argument);
    const ServiceManagerHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return serviceError("install service", subject, GetLastError());
    const std::wstring name(service.name);
    const std::wstring displayName(service.displayName);
    // No account: LocalSystem, which may write beside the executable wherever it lies.
    const ServiceManagerHandle created(CreateServiceW(
        manager.get(), name.c_str(), displayName.c_str(), SERVICE_CHANGE_CONFIG | DELETE, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!created) return serviceError("install service", subject, GetLastError());
    std::wstring text(service.description);
    SERVICE_DESCRIPTIONW description{text.data()};
    if (!ChangeServiceConfig2W(created.get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
        const DWORD error = GetLastError();
        // Installed whole or not at all.
        DeleteService(created.get());
        return serviceError("install service", subject, error);
    }
    commandLine = wideToAnsi(command);
    return {};
}

Status uninstallService(std::wstring_view name, bool& stopped) {
    stopped = false;
    const std::string subject = wideToAnsi(name);
    const ServiceManagerHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return serviceError("remove service", subject, GetLastError());
    const std::wstring key(name);
    const ServiceManagerHandle service(
        OpenServiceW(manager.get(), key.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return serviceError("remove service", subject, GetLastError());
    // A service that starts takes no stop until it runs; one that stops
    // is on its way. Either way it has a limited time.
    constexpr ULONGLONG stopLimit = 30000;
    const ULONGLONG deadline = GetTickCount64() + stopLimit;
    bool asked = false;
    for (;;) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service.get(), &status)) return serviceError("stop service", subject, GetLastError());
        if (status.dwCurrentState == SERVICE_STOPPED) break;
        if (!asked && status.dwCurrentState != SERVICE_START_PENDING && status.dwCurrentState != SERVICE_STOP_PENDING) {
            if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
                const DWORD error = GetLastError();
                if (error != ERROR_SERVICE_NOT_ACTIVE && error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
                    return serviceError("stop service", subject, error);
            } else {
                asked = true;
            }
        }
        stopped = true;
        if (GetTickCount64() > deadline)
            return Status::error(Status::Code::busy, "stop service", subject,
                                 "it has not stopped within 30 s, so it stays installed");
        Sleep(100);
    }
    if (!DeleteService(service.get())) return serviceError("remove service", subject, GetLastError());
    return {};
}

Status runAsService(std::wstring_view name, int (*collector)(), int& exitStatus) {
    exitStatus = 1;
    serviceName = name;
    serviceCollector = collector;
    // The name counts only for a process with several services.
    SERVICE_TABLE_ENTRYW table[] = {{serviceName.data(), runService}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
            return Status::error(Status::Code::unavailable, "run as service", wideToAnsi(name),
                                 "the process was not started by the service manager");
        return systemError("run as service", wideToAnsi(name), error);
    }
    exitStatus = collectorStatus;
    return {};
}

// The Windows heap has no switch for this at run time: it decides by itself
// what it keeps and what it gives back.
void keepFreedMemory() {}

}  // namespace quelvar::platform
