#pragma once

namespace quelvar {

// Why a row could not be put into the month's workbook. The numbers appear
// in the event log as "XLS-%05d" and are kept stable: operators look them
// up. Numbers not listed here are no longer given.
enum class WorkbookErrorCode {
    folderNotMade = 1,        // the workbook's folder cannot be made
    openFailed = 2,           // the workbook cannot be opened or read
    heldElsewhere = 3,        // another program holds the workbook: its rows wait, and this is not logged
    notCompoundFile = 4,      // the file is no Excel 97-2003 file at all
    damagedCompoundFile = 5,  // its container is cut short or inconsistent
    noWorkbookStream = 6,     // the container holds no Excel 97-2003 workbook
    damagedWorkbook = 7,      // the workbook's records are cut short, inconsistent or of another version
    encryptedWorkbook = 8,    // the workbook is protected by a password
    writeFailed = 9,          // the rows cannot be written into the workbook
    sheetMissing = 12,        // the day's sheet is not there and cannot be made
    columnMissing = 13,       // the day's sheet lacks a column in its first row
    sheetFull = 15,           // 65,536 rows are the most a sheet can hold
    valueTooLong = 17,        // 32,767 characters are the most a cell can hold
    recordTimeUnusable = 20,  // the record's TIME names no month and day
    rowNotKept = 21,          // a row that waits for its workbook cannot be written to the queue
    queueDamaged = 22,        // the queue of rows that wait for a workbook is damaged
    unfinishedChange = 23,    // a change a crash cut short cannot be undone: the files are not the journal's
};

}  // namespace quelvar
