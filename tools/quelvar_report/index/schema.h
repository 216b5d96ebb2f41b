#pragma once
// The index of every filed call: an SQLite database that `index` builds from
// the record files and the other commands read. The files stay the master
// copy; the database can always be made again from them.

namespace quelvar::report {

// Bumped whenever a table changes; a database of another version is made anew.
inline constexpr int schemaVersion = 2;

// PRAGMA application_id of every index ("QVLR"). `index` touches a database
// only when it carries this id, or is empty, or is an index made before the
// id was set (no id, a user_version, the tables files, calls and legs);
// anything else is another program's and is left as it is.
inline constexpr int applicationId = 0x51564C52;

inline constexpr const char* schemaSql = R"sql(
PRAGMA user_version = 2;

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

-- Daily figures, so that long periods are summed from them instead of
-- from every call. `index` makes them anew for each switch's day it writes
-- (and each day of a workbook's month), from that day's rows of `calls`:
-- they are always what a GROUP BY over `calls` gives. `filed` is calls.day,
-- the day of the file; `day` the day the calls count for (their start's).
-- Only calls: neither unparsable lines nor repeats filed twice.
CREATE TABLE IF NOT EXISTS day_numbers (
    day        TEXT NOT NULL,
    switch     TEXT NOT NULL,
    filed      TEXT NOT NULL,
    caller     TEXT NOT NULL,
    account    TEXT NOT NULL,
    category   TEXT NOT NULL,     -- as filed
    incoming   INTEGER NOT NULL,  -- 1 for type IN or FI
    calls      INTEGER NOT NULL,
    seconds    INTEGER NOT NULL,
    longest    INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS day_numbers_by_file ON day_numbers(switch, filed);
CREATE INDEX IF NOT EXISTS day_numbers_by_day ON day_numbers(day);
CREATE TABLE IF NOT EXISTS day_lines (
    day        TEXT NOT NULL,
    switch     TEXT NOT NULL,
    filed      TEXT NOT NULL,
    trunk      TEXT NOT NULL,
    route      TEXT NOT NULL,
    category   TEXT NOT NULL,
    incoming   INTEGER NOT NULL,
    calls      INTEGER NOT NULL,
    seconds    INTEGER NOT NULL,
    longest    INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS day_lines_by_file ON day_lines(switch, filed);
CREATE INDEX IF NOT EXISTS day_lines_by_day ON day_lines(day);
-- Each switch's day (by its files) that has calls, and the days they count for.
CREATE TABLE IF NOT EXISTS day_files (
    switch     TEXT NOT NULL,
    filed      TEXT NOT NULL,
    first_day  TEXT NOT NULL,
    last_day   TEXT NOT NULL,
    calls      INTEGER NOT NULL,
    PRIMARY KEY (switch, filed)
) WITHOUT ROWID;

-- Costs, worked out by the rating layer per switch's day and kept for the
-- tariffs they were rated with (`digest`). `index` forgets a day's costs
-- whenever it writes that day; a day without costs for the tariffs in use
-- is rated from its calls.
CREATE TABLE IF NOT EXISTS cost_files (
    switch     TEXT NOT NULL,
    filed      TEXT NOT NULL,
    digest     TEXT NOT NULL,
    PRIMARY KEY (switch, filed)
) WITHOUT ROWID;
-- The rated calls the site pays for, and the incoming ones (counted only,
-- one row a day: caller, account and category '').
CREATE TABLE IF NOT EXISTS day_costs (
    day        TEXT NOT NULL,
    digest     TEXT NOT NULL,
    switch     TEXT NOT NULL,
    filed      TEXT NOT NULL,
    caller     TEXT NOT NULL,
    account    TEXT NOT NULL,
    category   TEXT NOT NULL,     -- as rated
    version    TEXT NOT NULL,     -- valid_from of the tariff version used ('' for incoming)
    incoming   INTEGER NOT NULL,
    calls      INTEGER NOT NULL,
    seconds    INTEGER NOT NULL,
    cost       INTEGER NOT NULL   -- in li
);
CREATE INDEX IF NOT EXISTS day_costs_by_file ON day_costs(switch, filed);
CREATE INDEX IF NOT EXISTS day_costs_by_day ON day_costs(day);
CREATE INDEX IF NOT EXISTS day_costs_by_number ON day_costs(switch, caller, account, day);
-- day_costs summed by month (month YYYY-MM of `day`), always what a GROUP
-- BY over day_costs gives: a year is read from twelve months' rows. The
-- department is of a day, so a number whose directory lines are dated is
-- read from day_costs.
CREATE TABLE IF NOT EXISTS month_costs (
    month      TEXT NOT NULL,
    digest     TEXT NOT NULL,
    switch     TEXT NOT NULL,
    caller     TEXT NOT NULL,
    account    TEXT NOT NULL,
    category   TEXT NOT NULL,
    version    TEXT NOT NULL,
    incoming   INTEGER NOT NULL,
    calls      INTEGER NOT NULL,
    seconds    INTEGER NOT NULL,
    cost       INTEGER NOT NULL,
    PRIMARY KEY (month, digest, switch, caller, account, category, version, incoming)
) WITHOUT ROWID;
-- The calls that could not be rated, one by one (calls.id).
CREATE TABLE IF NOT EXISTS unrated_calls (
    call       INTEGER PRIMARY KEY,
    digest     TEXT NOT NULL,
    switch     TEXT NOT NULL,
    filed      TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS unrated_calls_by_file ON unrated_calls(switch, filed);

-- Alerts raised: each (rule, subject, period) once. Unlike every table
-- above they cannot be made again from the record files: a new schema and
-- `index --rebuild` keep them.
CREATE TABLE IF NOT EXISTS alerts (
    id         INTEGER PRIMARY KEY,
    rule       TEXT NOT NULL,     -- silent, call, unlisted, long, cost, budget
    rule_key   TEXT NOT NULL,     -- the rule's line as written (an edited rule is a new rule)
    subject    TEXT NOT NULL,     -- the switch folder, the extension, department:NAME, person:NAME
    period     TEXT NOT NULL,     -- what makes it once: the silence's start, the window's start, the month and 80/100
    raised     TEXT NOT NULL,     -- when raised, YYYY-MM-DDTHH:MM:SS local (the --at moment)
    closed     TEXT,              -- a silence: when a record came again; NULL while open (always NULL for others)
    switch     TEXT, ext TEXT, number TEXT, first TEXT, last TEXT,
    calls      INTEGER, seconds INTEGER,
    cost       INTEGER,           -- in li (0.001 yuan)
    text       TEXT NOT NULL,     -- the one-line message in Chinese
    UNIQUE (rule_key, subject, period)
);
-- Each alert's delivery to each of its rule's channels; `what` is 'raised' or 'closed'.
CREATE TABLE IF NOT EXISTS alert_sends (
    alert INTEGER NOT NULL, channel TEXT NOT NULL, what TEXT NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0, next_try TEXT NOT NULL, sent TEXT, error TEXT,
    PRIMARY KEY (alert, channel, what)
);
)sql";

// The tables a rebuilt index takes over from the one it replaces, with their columns.
inline constexpr const char* keptTables[][2] = {
    {"alerts", "id, rule, rule_key, subject, period, raised, closed, switch, ext, number, first, last, calls, seconds, "
               "cost, text"},
    {"alert_sends", "alert, channel, what, attempts, next_try, sent, error"},
};

// A switch's day's costs taken out of month_costs (?1 switch, ?2 file day),
// before its day_costs go; and put into them once they are written.
inline constexpr const char* monthCostsLess = R"sql(
INSERT INTO month_costs(month, digest, switch, caller, account, category, version, incoming, calls, seconds, cost)
SELECT substr(day, 1, 7), digest, switch, caller, account, category, version, incoming, -sum(calls), -sum(seconds),
       -sum(cost) FROM day_costs WHERE switch = ?1 AND filed = ?2 GROUP BY 1, 2, 3, 4, 5, 6, 7, 8
ON CONFLICT DO UPDATE SET calls = calls + excluded.calls, seconds = seconds + excluded.seconds,
                          cost = cost + excluded.cost)sql";
inline constexpr const char* monthCostsEmptied = R"sql(
DELETE FROM month_costs WHERE calls = 0 AND switch = ?1
 AND month >= (SELECT substr(min(day), 1, 7) FROM day_costs WHERE switch = ?1 AND filed = ?2)
 AND month <= (SELECT substr(max(day), 1, 7) FROM day_costs WHERE switch = ?1 AND filed = ?2))sql";
inline constexpr const char* monthCostsMore = R"sql(
INSERT INTO month_costs(month, digest, switch, caller, account, category, version, incoming, calls, seconds, cost)
SELECT substr(day, 1, 7), digest, switch, caller, account, category, version, incoming, sum(calls), sum(seconds),
       sum(cost) FROM day_costs WHERE switch = ?1 AND filed = ?2 GROUP BY 1, 2, 3, 4, 5, 6, 7, 8
ON CONFLICT DO UPDATE SET calls = calls + excluded.calls, seconds = seconds + excluded.seconds,
                          cost = cost + excluded.cost)sql";

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
