#include "app/startup.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "core/version.h"
#include "filing/classification.h"
#include "filing/intake.h"
#include "filing/plain_writer.h"
#include "filing/record_writer.h"
#include "filing/special_numbers.h"
#include "filing/workbook_export.h"
#include "log/event_log.h"
#include "net/encrypted_receiver.h"
#include "net/plain_receiver.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quelvar {

namespace {

constexpr const char* usageLine = "usage: quelvar [--check | --version | --help]\n";

constexpr const char* helpText =
    "usage: quelvar [--check | --version | --help]\n"
    "\n"
    "Without arguments the collector runs from the folder it lies in: it reads Quelvar.ini beside it,\n"
    "receives the switches' call records on UDP port 1809, files them and writes its event log to\n"
    "log/. SIGTERM or SIGINT stops it after the record in hand; SIGHUP is ignored.\n"
    "\n"
    "  --check    print the settings as Quelvar.ini gives them, and every line that looks wrong;\n"
    "             exit status 0 when none does, 1 otherwise. Nothing is written.\n"
    "  --version  print the version\n"
    "  --help     print this text\n";

// Everything of the running collector, made once at start and handed down:
// this is the one place that knows every part.
Status runCollector(const Settings& settings, const EventLog& log) {
    Classifier classifier(settings.areaCode, specialNumberFilePath(settings.programDirAnsi));
    if (settings.encryptMode != 0) {
        RecordWriter records(settings, classifier);
        WorkbookExport workbook(settings.programDir, log);
        workbook.resumeLeftovers();
        Intake intake(log, records, workbook);
        return runEncryptedReceiver(log, intake, settings.allow);
    }
    PlainRecordWriter writer(settings.programDirAnsi, classifier);
    return runPlainReceiver(log, writer, settings.allow);
}

std::wstring quoted(std::wstring_view value) {
    std::wstring text;
    for (const wchar_t c : value) text += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    return text;
}

// The settings as they are taken, one "name: value" a line.
std::wstring describe(const Settings& settings) {
    std::wstring allowed;
    for (const AddressRange& range : settings.allow)
        allowed += (allowed.empty() ? L"" : L", ") + fromAnsi(addressRangeText(range));
    return formatText(L"mode: %s, UDP port %d\n", settings.encryptMode != 0 ? L"encrypted" : L"plain", recordPort) +
           formatText(L"program folder: %s\n", settings.programDir) +
           formatText(L"data root: %s\n", settings.dataRoot.empty() ? pathIn(settings.programDir, L"rec")
                                                                    : settings.dataRoot) +
           formatText(L"area code: %s\n", settings.areaCode.empty() ? L"none" : quoted(settings.areaCode)) +
           // The filter takes effect from two characters on.
           formatText(L"type filter: %s\n",
                      settings.typeFilter.size() < 2 ? L"none" : quoted(settings.typeFilter)) +
           formatText(L"senders: %s\n", allowed.empty() ? L"every sender" : allowed);
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
        const Status read = platform::readFile(path, contents);
        if (read.ok())
            applySettingsText(contents, settings, [](Settings&) {}, &warnings);
        else if (!read.is(Status::Code::notFound))
            warnings.push_back({0, L"the file cannot be read (" + fromAnsi(read.reason()) + L"): the defaults are taken"});
        const std::wstring file = fromAnsi(path) + (read.is(Status::Code::notFound) ? L" (none: the defaults)" : L"");
        std::wstring text = formatText(L"quelvar %s\nQuelvar.ini: %s\n", versionText, file) + describe(settings);
        for (const SettingsWarning& warning : warnings) text += L"warning: " + warningText(warning) + L"\n";
        if (warnings.empty()) text += L"no warnings\n";
        platform::writeStandardOutput(toAnsi(text));
    }
    return warnings.empty() ? 0 : 1;
}

}  // namespace

Status serviceMain(Settings& settings, const EventLog& log) {
    ensureSpecialNumberFile(specialNumberFilePath(settings.programDirAnsi), log);
    std::vector<SettingsWarning> warnings;
    loadSettings(pathIn(settings.programDirAnsi, "Quelvar.ini"), settings, &warnings);
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
    ensureFolder(pathIn(settings.programDirAnsi, "rec"));
    return runCollector(settings, log);
}

int runProcess(const std::vector<std::string>& arguments) {
    if (!arguments.empty()) {
        if (arguments.size() == 1 && arguments[0] == "--check") return check();
        if (arguments.size() == 1 && arguments[0] == "--version") {
            platform::writeStandardOutput(std::string("quelvar ") + versionBytes + "\n");
            return 0;
        }
        if (arguments.size() == 1 && arguments[0] == "--help") {
            platform::writeStandardOutput(helpText);
            return 0;
        }
        platform::writeStandardError(usageLine);
        return 2;
    }
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

}  // namespace quelvar
