#include "quelvar_report/output/bill_render.h"

namespace quelvar::report {
namespace {

std::string minutes(long long seconds) { return decimal(static_cast<double>(seconds) / 60); }

}  // namespace

std::string renderBill(const Bill& bill, const std::map<std::string, long long>& unratedReasons, Format format) {
    if (format == Format::json) {
        const auto totals = [](const Totals& t) {
            return "\"calls\":" + std::to_string(t.calls) + ",\"seconds\":" + std::to_string(t.seconds) +
                   ",\"cost\":\"" + yuanExact(t.cost) + "\",\"unrated_calls\":" + std::to_string(t.unrated);
        };
        const auto categories = [&](const std::map<std::string, Totals>& byCategory) {
            std::string out = "{";
            for (const std::string& category : bill.categories) {
                const auto found = byCategory.find(category);
                if (found == byCategory.end()) continue;
                out += (out.size() > 1 ? "," : "") + jsonString(category) + ":{" + totals(found->second) + "}";
            }
            return out + "}";
        };
        std::string out = "{\"from\":" + jsonString(bill.from) + ",\"to\":" + jsonString(bill.to) +
                          ",\"by\":" + jsonString(bill.by) + ",\"tariff_versions\":[";
        for (std::size_t i = 0; i < bill.tariffVersions.size(); ++i)
            out += (i ? "," : "") + jsonString(bill.tariffVersions[i]);
        out += "],\"groups\":[";
        for (std::size_t i = 0; i < bill.groups.size(); ++i) {
            const BillGroup& group = bill.groups[i];
            std::string extensions;
            for (const std::string& number : group.extensions) extensions += (extensions.empty() ? "" : ",") + jsonString(number);
            out += std::string(i ? "," : "") + "\n{\"group\":" + jsonString(group.name) +
                   (bill.by == "person" ? ",\"department\":" + jsonString(group.department) +
                                              ",\"id\":" + (group.id.empty() ? std::string("null") : jsonString(group.id))
                                        : std::string()) +
                   (bill.by == "person" || group.unlisted ? ",\"extensions\":[" + extensions + "]" : std::string()) + "," +
                   totals(group.total) + ",\"by_category\":" + categories(group.byCategory) + "}";
        }
        out += "],\n\"total\":{" + totals(bill.total) + ",\"by_category\":" + categories(bill.byCategory) +
               "},\n\"incoming_calls\":" + std::to_string(bill.incoming) + ",\"unrated\":[";
        bool first = true;
        for (const auto& [why, count] : unratedReasons) {
            out += std::string(first ? "" : ",") + "{\"why\":" + jsonString(why) + ",\"calls\":" + std::to_string(count) + "}";
            first = false;
        }
        return out + "]}\n";
    }

    const bool person = bill.by == "person";
    std::vector<Column> columns{{bill.by, bill.by == "ext" ? Kind::phone : Kind::text}};
    if (person) columns.push_back({"department"});
    for (const Column& column : std::vector<Column>{
             {"category"}, {"calls", Kind::number}, {"minutes", Kind::number}, {"seconds", Kind::number}, {"cost", Kind::number}})
        columns.push_back(column);
    Table table{"Bill from " + bill.from + " to " + bill.to + " by " + bill.by, columns, {}};
    bool exact = true;  // every amount shown is a whole fen
    const auto add = [&](const std::string& name, const std::string& department, const std::string& category,
                         const Totals& totals) {
        std::vector<std::string> row{name};
        if (person) row.push_back(department);
        for (const std::string& value : {category, std::to_string(totals.calls), minutes(totals.seconds),
                                         std::to_string(totals.seconds), yuanCents(totals.cost)})
            row.push_back(value);
        exact = exact && totals.cost % 10 == 0;
        table.rows.push_back(std::move(row));
    };
    const auto addGroup = [&](const std::string& name, const std::string& department,
                              const std::map<std::string, Totals>& byCategory, const Totals& total) {
        for (const std::string& category : bill.categories) {
            const auto found = byCategory.find(category);
            if (found != byCategory.end()) add(name, department, category, found->second);
        }
        add(name, department, "(all)", total);
    };
    for (const BillGroup& group : bill.groups) addGroup(group.name, group.department, group.byCategory, group.total);
    addGroup("(total)", "", bill.byCategory, bill.total);

    Table notes{"", {{"note"}}, {}};
    notes.rows.push_back({"Tariff " + std::string(bill.tariffVersions.size() == 1 ? "version" : "versions") + " used: " +
                          [&] {
                              std::string list;
                              for (const std::string& version : bill.tariffVersions)
                                  list += (list.empty() ? "valid from " : ", ") + version;
                              return list.empty() ? std::string("none") : list;
                          }()});
    for (const BillGroup& group : bill.groups)
        if (group.unlisted && bill.by != "person") {
            std::string numbers;
            for (const std::string& number : group.extensions) numbers += (numbers.empty() ? "" : ", ") + number;
            notes.rows.push_back({group.name + ": extensions not in the directory: " + numbers});
        }
    if (bill.incoming)
        notes.rows.push_back({std::to_string(bill.incoming) + (bill.incoming == 1 ? " incoming call is" : " incoming calls are") +
                              " not billed."});
    if (!exact) notes.rows.push_back({"Costs are shown to the fen; every sum is of the exact amounts in li (0.001 yuan)."});
    for (const auto& [why, count] : unratedReasons)
        notes.rows.push_back({std::to_string(count) + (count == 1 ? " call" : " calls") + " not rated (counted at 0): " + why});
    if (format == Format::csv) {
        std::string out = std::string(byteOrderMark) + csvTitles(table.columns);
        for (const auto& row : table.rows) out += csvRow(table.columns, row);
        out += "\r\n" + csvTitles(notes.columns);
        for (const auto& row : notes.rows) out += csvRow(notes.columns, row);
        return out;
    }
    std::string out = renderTables({table}) + "\n";
    for (const auto& row : notes.rows) out += printable(row.front()) + "\n";
    return out;
}

}  // namespace quelvar::report
