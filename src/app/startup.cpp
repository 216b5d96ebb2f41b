#include "app/startup.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "core/version.h"
#include "filing/classification.h"
#include "filing/filing_batch.h"
#include "filing/intake.h"
#include "filing/plain_writer.h"
#include "filing/record_files.h"
#include "filing/record_writer.h"
#include "filing/special_numbers.h"
#include "filing/undo_reading.h"
#include "filing/switch_folders.h"
#include "filing/workbook_export.h"
#include "log/event_log.h"
#include "log/network_log.h"
#include "net/encrypted_receiver.h"
#include "net/plain_receiver.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quelvar {

namespace {

// The Windows build lists the arguments of its service.
constexpr const char* usageLine = platform::windowsServices
                                      ? "usage: quelvar [--check | --version | --help | --install | --uninstall]\n"
                                      : "usage: quelvar [--check | --version | --help]\n";

constexpr const char* helpText =
    platform::windowsServices
        ? "usage: quelvar [--check | --version | --help | --install | --uninstall]\n"
          "\n"
          "Without arguments the collector runs from the folder it lies in: it reads Quelvar.ini beside it,\n"
          "receives the switches' call records on UDP port 1809, files them and writes its event log to\n"
          "log\\. As the service Quelvar it starts with the machine, and stops after the record in hand\n"
          "with: sc stop Quelvar.\n"
          "\n"
          "  --check      print the settings as Quelvar.ini gives them, and every line that looks wrong;\n"
          "               exit status 0 when none does, 1 otherwise. Nothing is written.\n"
          "  --version    print the version\n"
          "  --help       print this text\n"
          "  --install    install the collector as the Windows service Quelvar, which starts with the\n"
          "               machine as LocalSystem and runs this quelvar.exe where it lies; start it now\n"
          "               with: sc start Quelvar. Needs an administrator.\n"
          "  --uninstall  stop the service Quelvar if it runs, and remove it. Needs an administrator.\n"
          "  --service    run as the service (the service manager starts it so)\n"
        : "usage: quelvar [--check | --version | --help]\n"
          "\n"
          "Without arguments the collector runs from the folder it lies in: it reads Quelvar.ini beside it,\n"
          "receives the switches' call records on UDP port 1809, files them and writes its event log to\n"
          "log/. SIGTERM or SIGINT stops it after the record in hand; SIGHUP is ignored.\n"
          "\n"
          "  --check    print the settings as Quelvar.ini gives them, and every line that looks wrong;\n"
          "             exit status 0 when none does, 1 otherwise. Nothing is written.\n"
          "  --version  print the version\n"
          "  --help     print this text\n";

// The collector as a Windows service.
constexpr platform::ServiceDefinition service{
    L"Quelvar", L"Quelvar call-detail-record collector",
    L"Receives the switches' call records on UDP port 1809 and files them in the folder of quelvar.exe.", L"--service"};

// Everything of the running collector, made once at start and handed down:
// this is the one place that knows every part.
Status runCollector(const Settings& settings, const EventLog& log) {
    // Lines of a datagram cut short by a kill go before anything is filed:
    // the switch sends that datagram again.
    FilingBatch batch;
    batch.setSyncing(settings.sync);
    FilingBatch::Leftover leftover;
    const std::string undoPath = pathIn(settings.programDirAnsi, undoFileName);
    const std::string rec = pathIn(settings.programDirAnsi, "rec");
    const std::vector<std::string> recordBases{settings.dataRoot.empty() ? rec : toAnsi(settings.dataRoot), rec};
    if (Status opened = batch.open(undoPath, recordBases, leftover); !opened.ok()) {
        // Held by another collector in this folder, whose lines it guards.
        const std::wstring reason = opened.is(Status::Code::busy)
                                        ? std::wstring(L"another collector runs in this folder")
                                        : fromAnsi(opened.reason());
        log.writeEventLine(
            formatText(L"ERROR   cannot keep the undo file %s: %s\r\n", fromAnsi(opened.subject()), reason));
        return opened;
    }
    for (const std::string& file : leftover.takenBack)
        log.writeEventLine(formatText(L"WARNING   lines of an unfinished datagram taken back from %s\r\n",
                                      escapeControlCharacters(fromAnsi(file))));
    for (const Status& failure : leftover.failures) log.writeEventLine(linesNotTakenBack(failure));
    if (leftover.refused > 0)
        log.writeEventLine(formatText(
            L"WARNING   the undo file names %d files that are no record files below the "
            L"data root, left as they are: %s, ...\r\n",
            static_cast<long long>(leftover.refused), escapeControlCharacters(fromAnsi(leftover.firstRefused))));
    if (leftover.cutShort)
        log.writeEventLine(
            formatText(L"WARNING   the undo file is larger than %d MiB, which the collector never "
                       L"writes: only its first %d MiB were read\r\n",
                       static_cast<long long>(undoReadLimit >> 20), static_cast<long long>(undoReadLimit >> 20)));

    Classifier classifier(settings.areaCode, specialNumberFilePath(settings.programDirAnsi), &log);
    classifier.readSpecialNumbers();
    NetworkLog lines(log);
    SwitchFolders folders(settings, lines);
    if (settings.encryptMode != 0) {
        RecordWriter records(settings, classifier, &batch, &folders);
        WorkbookExport workbook(settings.programDir, log);
        workbook.resumeLeftovers();
        Intake intake(lines, records, workbook);
        return runEncryptedReceiver(log, lines, intake, batch, settings.allow);
    }
    PlainRecordWriter writer(settings.programDirAnsi, classifier, &batch, &folders);
    return runPlainReceiver(log, lines, writer, batch, settings.allow);
}

std::wstring quoted(std::wstring_view value) {
    std::wstring text;
    for (const wchar_t c : value) text += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    return text;
}

// The switches that may get a new folder, where Quelvar.ini lists them.
std::wstring switchesText(const Settings& settings) {
    if (settings.switches.empty()) return L"switches: none may get a new folder (SWITCHES lists none)\n";
    std::wstring listed;
    for (const std::wstring& mac : settings.switches) listed += (listed.empty() ? L"" : L", ") + quoted(mac);
    return L"switches: only " + listed + L" may get a new folder\n";
}

// The settings as they are taken, one "name: value" a line.
std::wstring describe(const Settings& settings) {
    std::wstring allowed;
    for (const AddressRange& range : settings.allow)
        allowed += (allowed.empty() ? L"" : L", ") + fromAnsi(addressRangeText(range));
    return formatText(L"mode: %s, UDP port %d\n", settings.encryptMode != 0 ? L"encrypted" : L"plain", recordPort) +
           formatText(L"program folder: %s\n", settings.programDir) +
           formatText(L"data root: %s\n",
                      settings.dataRoot.empty() ? pathIn(settings.programDir, L"rec") : settings.dataRoot) +
           formatText(L"area code: %s\n", settings.areaCode.empty() ? L"none" : quoted(settings.areaCode)) +
           // The filter takes effect from two characters on.
           formatText(L"type filter: %s\n",
                      settings.typeFilter.size() < 2 ? L"none" : quoted(settings.typeFilter)) +
           formatText(L"senders: %s\n",
                      allowed.empty() ? (noValidSender(settings) ? L"none" : L"every sender") : allowed) +
           (settings.switchesListed ? switchesText(settings) : std::wstring()) +
           formatText(L"sync: %s\n", settings.sync ? L"on" : L"off (SYNC=0)");
}

std::wstring warningText(const SettingsWarning& warning) {
    return warning.line == 0 ? L"Quelvar.ini: " + warning.text
                             : formatText(L"Quelvar.ini line %d: %s", warning.line, warning.text);
}

Settings programFolderSettings() {
    Settings settings;
    settings.programDir = getProgramDir();
    settings.programDirAnsi = toAnsi(settings.programDir);
    return settings;
}

// Reads Quelvar.ini as the collector would, but makes no folder and writes
// no file, and says what it found.
int check() {
    Settings settings = programFolderSettings();
    const std::string path = pathIn(settings.programDirAnsi, "Quelvar.ini");
    std::vector<SettingsWarning> warnings;
    {
        std::string contents;
        const Status read = readSettingsFile(path, contents, &warnings);
        if (read.ok()) applySettingsText(contents, settings, [](Settings&) {}, &warnings);
        const std::wstring file = fromAnsi(path) + (read.is(Status::Code::notFound) ? L" (none: the defaults)" : L"");
        std::wstring text = formatText(L"quelvar %s\nQuelvar.ini: %s\n", versionText, file) + describe(settings);
        for (const SettingsWarning& warning : warnings) text += L"warning: " + warningText(warning) + L"\n";
        std::wstring refusal;
        if (noValidSender(settings, &refusal))
            text += L"error: " + refusal + L"\n";
        else if (warnings.empty())
            text += L"no warnings\n";
        platform::writeStandardOutput(toAnsi(text));
    }
    return warnings.empty() && !noValidSender(settings) ? 0 : 1;
}

}  // namespace

Status serviceMain(Settings& settings, const EventLog& log) {
    ensureSpecialNumberFile(specialNumberFilePath(settings.programDirAnsi), log);
    std::vector<SettingsWarning> warnings;
    loadSettings(pathIn(settings.programDirAnsi, "Quelvar.ini"), settings, &warnings);
    keepDataRoots(settings);
    log.writeEventLine(std::wstring(L"Quelvar startup ").append(versionText).append(L"\r\n"));
    log.writeEventLine(formatText(L"encrypt:%d areacode:%s \r\n", settings.encryptMode, settings.areaCode));
    log.writePlainEventLine(settings.programDirAnsi);
    // The operator sees at once what was read, and what looks wrong in it.
    std::wstring described = describe(settings);
    described.pop_back();
    for (std::size_t feed = described.find(L'\n'); feed != std::wstring::npos; feed = described.find(L'\n', feed))
        described.replace(feed, 1, L"; ");
    platform::writeStandardError(toAnsi(formatText(L"quelvar %s started: %s\n", versionText, described)));
    for (const SettingsWarning& warning : warnings)
        log.writeEventLine(L"WARNING   " + warningText(warning) + L"\r\n");
    // An ALLOW list that names nobody valid is a mistake, not leave for everyone.
    if (std::wstring refusal; noValidSender(settings, &refusal)) {
        log.writeEventLine(L"ERROR   " + refusal + L"\r\n");
        return Status::error(Status::Code::failed, "start", "quelvar", toAnsi(refusal));
    }
    ensureFolder(pathIn(settings.programDirAnsi, "rec"));
    return runCollector(settings, log);
}

namespace {

// The collector until a stop is asked for: 0 then, 1 when it could not start.
int runCollectorProcess() {
    // Without its own folder the collector would write its log and records
    // into the file system's root.
    if (platform::executablePath().empty()) {
        platform::writeStandardError("quelvar: cannot find the folder of the executable\n");
        return 1;
    }
    platform::watchStopRequests();
    Settings settings = programFolderSettings();
    const EventLog log(settings.programDirAnsi);
    const Status served = serviceMain(settings, log);
    log.writeEventLine(std::wstring(L"Quelvar stop ").append(versionText).append(L"\r\n"));
    platform::reportStopped();
    return served.ok() ? 0 : 1;
}

// The answer to a service argument where there are no Windows services.
int forWindowsOnly(const std::string& argument) {
    platform::writeStandardError("quelvar: " + argument +
                                 " is for Windows; on Linux systemd runs the collector as a service (see the "
                                 "README)\n");
    return 2;
}

int failed(const Status& status) {
    platform::writeStandardError("quelvar: cannot " + status.text() + "\n");
    return 1;
}

int install() {
    std::string commandLine;
    const Status installed = platform::installService(service, commandLine);
    if (installed.is(Status::Code::unsupported)) return forWindowsOnly("--install");
    if (!installed.ok()) return failed(installed);
    platform::writeStandardOutput(
        toAnsi(formatText(L"quelvar: installed the service %s (\"%s\"), which starts with the machine as LocalSystem "
                          L"and runs: %s\nquelvar: start it now with: sc start %s\n",
                          service.name, service.displayName, fromAnsi(commandLine), service.name)));
    return 0;
}

int uninstall() {
    bool stopped = false;
    const Status removed = platform::uninstallService(service.name, stopped);
    if (removed.is(Status::Code::unsupported)) return forWindowsOnly("--uninstall");
    std::wstring done = stopped ? formatText(L"quelvar: stopped the service %s\n", service.name) : std::wstring();
    if (!removed.ok()) {
        platform::writeStandardOutput(toAnsi(done));
        return failed(removed);
    }
    platform::writeStandardOutput(toAnsi(done + formatText(L"quelvar: removed the service %s\n", service.name)));
    return 0;
}

int runService() {
    int status = 1;
    const Status ran = platform::runAsService(service.name, runCollectorProcess, status);
    if (ran.is(Status::Code::unsupported)) return forWindowsOnly("--service");
    if (ran.is(Status::Code::unavailable)) {
        platform::writeStandardError(
            toAnsi(formatText(L"quelvar: --service is for the service manager, and it did not start this process: "
                              L"install the service with --install and start it with: sc start %s\n",
                              service.name)));
        return 2;
    }
    if (!ran.ok()) return failed(ran);
    return status;
}

}  // namespace

int runProcess(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return runCollectorProcess();
    if (arguments.size() == 1) {
        const std::string& argument = arguments[0];
        if (argument == "--check") return check();
        if (argument == "--version") {
            platform::writeStandardOutput(std::string("quelvar ") + versionBytes + "\n");
            return 0;
        }
        if (argument == "--help") {
            platform::writeStandardOutput(helpText);
            return 0;
        }
        if (argument == "--install") return install();
        if (argument == "--uninstall") return uninstall();
        if (argument == "--service") return runService();
    }
    platform::writeStandardError(usageLine);
    return 2;
}

}  // namespace quelvar
