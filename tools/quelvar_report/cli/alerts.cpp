#include "quelvar_report/cli/alerts.h"

#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <ctime>

#include "platform/files.h"
#include "quelvar_report/alerting/alerts.h"
#include "quelvar_report/alerting/silence.h"
#include "quelvar_report/cli/options.h"
#include "quelvar_report/index/index.h"
#include "quelvar_report/output/output.h"

namespace quelvar::report {
namespace {

Options defaults(const std::string& programFolder) {
    Options options;
    options.database = programFolder + "/quelvar.db";
    options.tariffs = programFolder + "/tariffs.csv";
    options.directory = programFolder + "/directory.csv";
    return options;
}

std::string answer(const std::vector<Alert>& alerts, Format format) {
    if (format == Format::json) {
        std::string out = "{\"alerts\":[";
        for (std::size_t i = 0; i < alerts.size(); ++i) out += (i ? ",\n" : "\n") + alertJson(alerts[i]);
        return out + "]}\n";
    }
    if (alerts.empty()) return "没有新的告警\n";
    Table table{"告警",
                {{"规则"}, {"对象"}, {"开始", Kind::time}, {"次数", Kind::number}, {"费用(元)", Kind::number}, {"内容"}},
                {}};
    for (const Alert& alert : alerts)
        table.rows.push_back({alert.rule, alert.subject, alert.first.value_or(""),
                              alert.calls ? std::to_string(*alert.calls) : std::string(),
                              alert.cost ? yuanCents(*alert.cost) : std::string(), alert.text});
    return renderTables({table});
}

// One run: index, rules, record, deliver.
Status alertsOnce(const Options& options, const std::string& programFolder, const std::string& at, std::string& out,
                  std::FILE* log) {
    const std::string rulesPath = options.rules.empty() ? programFolder + "/alerts.csv" : options.rules;
    if (options.rules.empty() && !platform::pathExists(rulesPath))
        return Status::error(Status::Code::notFound, "", "",
                             "no rules at " + rulesPath +
                                 ": copy alerts.csv.example beside the program to alerts.csv and adapt it, or name a "
                                 "file with --rules");
    std::vector<AlertRule> rules;
    if (Status read = readRules(rulesPath, rules); !read.ok()) return read;
    Tariffs tariffs;
    const bool costs = std::any_of(rules.begin(), rules.end(), [](const AlertRule& rule) {
        return rule.kind == RuleKind::cost || rule.kind == RuleKind::budget;
    });
    if (options.tariffsGiven || platform::pathExists(options.tariffs)) {
        if (Status read = Tariffs::read(options.tariffs, tariffs); !read.ok()) return read;
    } else if (costs) {
        return Status::error(Status::Code::notFound, "", "",
                             "cost and budget rules need the tariffs: tariffs.csv beside the program, or --tariffs");
    }
    Directory directory;
    if (options.directoryGiven || platform::pathExists(options.directory))
        if (Status read = Directory::read(options.directory, directory); !read.ok()) return read;
    const CallCategories categories = CallCategories::ofProgramFolder(programFolder);

    sqlite3* database = nullptr;
    if (sqlite3_open_v2(options.database.c_str(), &database,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string why = database ? sqlite3_errmsg(database) : "out of memory";
        sqlite3_close(database);
        return Status::error(Status::Code::failed, "open", options.database, why);
    }
    // A run of `index` holding the index a moment is waited for.
    sqlite3_busy_timeout(database, 10000);
    IndexReport report;
    Status result =
        updateIndex(database, options.roots.empty() ? defaultRoots(programFolder) : options.roots, report);
    std::vector<Alert> found, fresh;
    if (result.ok()) result = findAlerts(database, rules, AlertSources{&tariffs, &directory, &categories}, at, found);
    if (result.ok()) result = recordAlerts(database, std::move(found), at, options.dryRun, fresh);
    if (result.ok() && options.again) {
        std::vector<Alert> open;
        result = openAlerts(database, at, open);
        for (Alert& alert : open)
            if (std::none_of(fresh.begin(), fresh.end(), [&](const Alert& x) { return x.id == alert.id; }))
                fresh.push_back(std::move(alert));
    }
    if (result.ok() && !options.dryRun) {
        DeliveryOptions delivery;
        delivery.sendmail = options.sendmail;
        delivery.log = log;
        result = deliverDue(database, at, delivery, log);
    }
    sqlite3_close(database);
    if (result.ok()) out += answer(fresh, options.format);
    return result;
}

std::string oneLine(const Status& status) {
    std::string text = status.text();
    if (text.starts_with(": ")) text = text.substr(2);
    return text;
}

volatile std::sig_atomic_t stopAsked = 0;

extern "C" void askStop(int) { stopAsked = 1; }

}  // namespace

bool isAlertsCommand(const std::string& command) { return command == "alerts" || command == "watch"; }

int runAlerts(const std::string& command, const std::vector<std::string>& arguments, const std::string& programFolder,
              std::time_t now, std::string& out, std::string& error, std::FILE* log) {
    if (command == "watch") return runWatch(arguments, programFolder, error, log);
    Options options = defaults(programFolder);
    options.now = now;
    if (const std::string wrong = parseOptions(command, arguments, options); !wrong.empty()) {
        error = wrong;
        return 2;
    }
    const Status ran = alertsOnce(options, programFolder, options.at.value_or(localMoment(now)), out, log);
    if (!ran.ok()) {
        out.clear();
        error = oneLine(ran);
        return 2;
    }
    return 0;
}

int runWatch(const std::vector<std::string>& arguments, const std::string& programFolder, std::string& error,
             std::FILE* log) {
    Options options = defaults(programFolder);
    options.now = std::time(nullptr);
    if (const std::string wrong = parseOptions("watch", arguments, options); !wrong.empty()) {
        error = wrong;
        return 2;
    }
    // Stopped between runs: a run that has begun ends first.
    struct sigaction action {};
    action.sa_handler = askStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    while (!stopAsked) {
        const std::time_t began = std::time(nullptr);
        std::string out;
        if (const Status ran = alertsOnce(options, programFolder, localMoment(began), out, log); !ran.ok())
            std::fprintf(log, "quelvar-report: %s\n", oneLine(ran).c_str());
        std::fflush(log);
        const std::time_t next = began + options.every;
        while (!stopAsked && std::time(nullptr) < next) {
            const timespec pause{0, 200'000'000};
            nanosleep(&pause, nullptr);
        }
    }
    return 0;
}

}  // namespace quelvar::report
