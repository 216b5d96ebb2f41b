#include "app/startup.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/settings.h"
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

// Everything of the running collector, made once at start and handed down:
// this is the one place that knows every part.
void runCollector(const Settings& settings, const EventLog& log) {
    Classifier classifier(settings.areaCode, specialNumberFilePath(settings.programDirAnsi));
    if (settings.encryptMode != 0) {
        RecordWriter records(settings, classifier);
        WorkbookExport workbook(settings.programDir, log);
        Intake intake(log, records, workbook);
        runEncryptedReceiver(log, intake);
    } else {
        PlainRecordWriter writer(settings.programDirAnsi, classifier);
        runPlainReceiver(log, writer);
    }
}

}  // namespace

void serviceMain(Settings& settings, const EventLog& log) {
    ensureSpecialNumberFile(specialNumberFilePath(settings.programDirAnsi), log);
    loadSettings(pathIn(settings.programDirAnsi, "Quelvar.ini"), settings);
    log.writeEventLine(std::wstring(L"Quelvar startup ").append(versionText).append(L"\r\n"));
    log.writeEventLine(formatText(L"encrypt:%d areacode:%s \r\n", settings.encryptMode, settings.areaCode));
    log.writePlainEventLine(settings.programDirAnsi);
    ensureFolder(pathIn(settings.programDirAnsi, "rec"));
    runCollector(settings, log);
}

int runProcess() {
    // Without its own folder the collector would write its log and records
    // into the file system's root.
    if (platform::executablePath().empty()) {
        platform::writeStandardError("quelvar: cannot find the folder of the executable\n");
        return 1;
    }
    Settings settings;
    settings.programDir = getProgramDir();
    settings.programDirAnsi = toAnsi(settings.programDir);
    const EventLog log(settings.programDirAnsi);
    serviceMain(settings, log);
    log.writeEventLine(std::wstring(L"Quelvar stop ").append(versionText).append(L"\r\n"));
    return 0;
}

}  // namespace quelvar
