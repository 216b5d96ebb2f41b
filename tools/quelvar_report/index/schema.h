#pragma once
// The index of every filed call: an SQLite database that `index` builds from
// the record files and the other commands read. The files stay the master
// copy; the database can always be made again from them.

namespace quelvar::report {

// Bumped whenever a table changes; a database of another version is made anew.
inline constexpr int schemaVersion = 1;

// PRAGMA application_id of every index ("QVLR"). `index` touches a database
// only when it carries this id, or is empty, or is an index made before the
// id was set (no id, a user_version, the tables files, calls and legs);
// anything else is another program's and is left as it is.
inline constexpr int applicationId = 0x51564C52;

inline constexpr const char* schemaSql = R"sql(
PRAGMA user_version = 1;

-- Every file read, so that the next run reads only what changed.
CREATE TABLE IF NOT EXISTS files (
    path       TEXT PRIMARY KEY,  -- absolute, as found under its root
    kind       TEXT NOT NULL,     -- new-text, new-csv, old-text, workbook (a line tells its mode by its layout)
    switch     TEXT NOT NULL,     -- the MAC folder; '' for a workbook or a log
    day        TEXT,              -- YYYY-MM-DD the file is named for (a workbook: its month's first day)
    err        INTEGER NOT NULL,  -- 1 when it lies in the err tree
    size       INTEGER NOT NULL,  -- bytes read so far
    mtime      INTEGER NOT NULL,  -- its modification time, in nanoseconds, when read
    hash       TEXT NOT NULL,     -- a hash of the bytes read so far
    lines      INTEGER NOT NULL DEFAULT 0  -- the lines read so far
);

-- One row per call, from the most complete of its copies.
CREATE TABLE IF NOT EXISTS calls (
    id         INTEGER PRIMARY KEY,
    switch     TEXT NOT NULL,     -- the MAC folder; '' for a workbook row (no switch address)
    call_key   TEXT NOT NULL,     -- the RID before its first '-', the call's key ('' for a workbook row or unread line)
    call_id    TEXT NOT NULL,     -- the RID as filed, its padding zeros taken off
    account    TEXT NOT NULL,
    caller     TEXT NOT NULL,
    callee     TEXT NOT NULL,
    legs       INTEGER NOT NULL,  -- the legs of the call (COUNT, or the leg lines found)
    start      TEXT,              -- the first leg's start, YYYY-MM-DDTHH:MM:SS local; NULL when not a time
    end        TEXT,              -- the last leg's end, likewise
    seconds    INTEGER NOT NULL,  -- the sum of the legs' durations
    category   TEXT NOT NULL,     -- the teletype as filed: 内线, 市话, 国内长途, 国际长途, 特服电话, ...
    type       TEXT NOT NULL,     -- the call type as filed (IN, OU, ...)
    route      TEXT NOT NULL,     -- the route as filed (IP, ...)
    trunk      TEXT NOT NULL,     -- the first leg's trunk
    day        TEXT NOT NULL,     -- YYYY-MM-DD of the file it was filed in (a later leg's file may be the next day's)
    file       TEXT NOT NULL,     -- the file and line (from 1) of the copy it was taken from
    line       INTEGER NOT NULL,
    flags      INTEGER NOT NULL DEFAULT 0,  -- see below
    text       TEXT,              -- the line as filed (UTF-8) when it could not be parsed
    -- What joining a copy found later needs (written and read by `index` only):
    occurrence INTEGER NOT NULL DEFAULT 0,  -- 0, or the n-th call under the same key on that day and switch
    copies     INTEGER NOT NULL DEFAULT 0,  -- the merged copies found: 1 the text, 2 the CSV
    conflicts  INTEGER NOT NULL DEFAULT 0,  -- copies that did not agree when they were joined
    filed_count   INTEGER,        -- the merged record's COUNT, its first leg's times, duration and trunk
    filed_start   TEXT,
    filed_end     TEXT,
    filed_seconds INTEGER,
    filed_trunk   TEXT
);
CREATE INDEX IF NOT EXISTS calls_by_start ON calls(start);
CREATE INDEX IF NOT EXISTS calls_by_switch_day ON calls(switch, day);

-- The legs of each call, in order, from its leg lines (none for a call
-- known only from its merged record, or from a workbook row).
CREATE TABLE IF NOT EXISTS legs (
    call       INTEGER NOT NULL,  -- calls.id
    leg        INTEGER NOT NULL,  -- from 1
    start      TEXT,
    end        TEXT,
    seconds    INTEGER NOT NULL,
    trunk      TEXT NOT NULL,
    rid        TEXT NOT NULL DEFAULT '',  -- the leg's RID as filed, its padding zeros taken off
    PRIMARY KEY (call, leg)
);
)sql";

// calls.flags
inline constexpr int fromErrTree = 1;   // a copy of it was filed under err: a required field was missing
inline constexpr int unparsable = 2;    // the line could not be read: `text` holds it
// The same call filed again. Within a switch's files of one day the n-th
// merged record, CSV line or line of a leg (its whole RID) under a call key
// belongs to the n-th call under that key; a later call whose start is the
// first one's is a repeat filed twice, and its row carries this flag. A key
// used again for a call that starts at another time is a call of its own.
inline constexpr int repeatFiled = 4;
// Its copies do not agree: the merged text and the CSV differ, or the
// merged record's COUNT, first start, duration or trunk is not what its leg
// lines say. The row is counted once all the same.
inline constexpr int disagreeing = 8;
// Its start was filed, but as no real time (2026-11-31, 25:61:00): start is NULL.
inline constexpr int impossibleTime = 16;

}  // namespace quelvar::report
