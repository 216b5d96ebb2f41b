#include "core/startup.h"

#include "core/folders.h"
#include "core/settings.h"
#include "core/text.h"
#include "net/encrypted_receiver.h"
#include "net/plain_receiver.h"
#include "net/recent_record_table.h"
#include "platform/console.h"
#include "platform/program_dir.h"
#include "store/intake.h"
#include "store/plain_writer.h"
#include "store/special_numbers.h"

namespace quelvar {

void serviceMain() {
    settings.programDirAnsi = toAnsi(getProgramDir());
    ensureSpecialNumberFile();
    clearRecentRecords();
    loadSettings(pathIn(settings.programDirAnsi, "Quelvar.ini"), settings);
    submitMessage(L"Quelvar startup %s\r\n", versionText);
    submitMessage(L"encrypt:%d areacode:%s \r\n", settings.encryptMode, settings.areaCode);
    storePlainRecord(settings.programDirAnsi);
    ensureFolder(pathIn(settings.programDirAnsi, "rec"));
    if (settings.encryptMode != 0)
        runEncryptedReceiver();
    else
        runPlainReceiver();
}

int runProcess() {
    // Without its own folder the collector would write its log and records
    // into the file system's root.
    if (platform::executablePath().empty()) {
        platform::writeStandardError("quelvar: cannot find the folder of the executable\n");
        return 1;
    }
    serviceMain();
    submitMessage(L"Quelvar stop %s\r\n", versionText);
    return 0;
}

}  // namespace quelvar
