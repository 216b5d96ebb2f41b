#include "quelvar_report/output/bill_render.h"

namespace quelvar::report {
namespace {

std::string minutes(long long seconds) { return decimal(static_cast<double>(seconds) / 60); }

}  // namespace

std::string groupHeading(const std::string& by, Lang lang) {
    if (by == "ext") return said(lang, "分机", "ext");
    if (by == "person") return said(lang, "姓名", "person");
    if (by == "department") return said(lang, "部门", "department");
    if (by == "switch") return said(lang, "交换机", "switch");
    return by;
}

std::vector<Column> unratedColumns(Lang lang) {
    return {{said(lang, "编号", "id"), Kind::phone},
            {said(lang, "交换机", "switch")},
            {said(lang, "开始时间", "start"), Kind::time},
            {said(lang, "主叫", "caller"), Kind::phone},
            {said(lang, "姓名", "person")},
            {said(lang, "部门", "department")},
            {said(lang, "被叫", "callee"), Kind::phone},
            {said(lang, "类别", "category")},
            {said(lang, "时长(秒)", "seconds"), Kind::number},
            {said(lang, "原因", "why")}};
}

std::vector<std::string> unratedRow(const RatedCall& call) {
    return {call.callId,    call.switchName, call.start,
            call.caller,    call.person,     call.department,
            call.callee,    call.category,   std::to_string(call.seconds),
            call.unratedWhy};
}

std::string renderBill(const Bill& bill, const std::map<std::string, UnratedCalls>& unrated, Format format, Lang lang,
                       std::vector<std::string>* notesOut) {
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
        for (const auto& [why, calls] : unrated) {
            out += std::string(first ? "" : ",") + "\n{\"why\":" + jsonString(why) +
                   ",\"calls\":" + std::to_string(calls.calls) + ",\"keys\":[";
            for (std::size_t i = 0; i < calls.keys.size(); ++i) out += (i ? "," : "") + jsonString(calls.keys[i]);
            out += "]}";
            first = false;
        }
        return out + "]}\n";
    }

    const bool person = bill.by == "person";
    std::vector<Column> columns{{groupHeading(bill.by, lang), bill.by == "ext" ? Kind::phone : Kind::text}};
    if (person) columns.push_back({said(lang, "部门", "department")});
    for (const Column& column : std::vector<Column>{{said(lang, "类别", "category")},
                                                    {said(lang, "通话次数", "calls"), Kind::number},
                                                    {said(lang, "未计费", "unrated"), Kind::number},
                                                    {said(lang, "时长(分)", "minutes"), Kind::number},
                                                    {said(lang, "时长(秒)", "seconds"), Kind::number},
                                                    {said(lang, "费用(元)", "cost"), Kind::number}})
        columns.push_back(column);
    Table table{lang == Lang::en ? "Bill from " + bill.from + " to " + bill.to + " by " + bill.by
                                 : "话费账单 " + bill.from + " 至 " + bill.to + "，按" + groupHeading(bill.by, lang),
                columns,
                {}};
    const BillFen fen = billFen(bill);
    const auto add = [&](const std::string& name, const std::string& department, const std::string& category,
                         const Totals& totals, long long costFen) {
        std::vector<std::string> row{name};
        if (person) row.push_back(department);
        for (const std::string& value : {category, std::to_string(totals.calls), std::to_string(totals.unrated),
                                         minutes(totals.seconds), std::to_string(totals.seconds), yuanFromFen(costFen)})
            row.push_back(value);
        table.rows.push_back(std::move(row));
    };
    const auto addGroup = [&](const std::string& name, const std::string& department,
                              const std::map<std::string, Totals>& byCategory, const Totals& total,
                              const std::vector<long long>& categoryFen, long long totalFen) {
        for (std::size_t i = 0; i < bill.categories.size(); ++i) {
            const auto found = byCategory.find(bill.categories[i]);
            if (found != byCategory.end()) add(name, department, bill.categories[i], found->second, categoryFen[i]);
        }
        add(name, department, said(lang, "小计", "(all)"), total, totalFen);
    };
    for (std::size_t g = 0; g < bill.groups.size(); ++g) {
        const BillGroup& group = bill.groups[g];
        addGroup(group.name, group.department, group.byCategory, group.total, fen.groupCategories[g], fen.groups[g]);
    }
    addGroup(said(lang, "合计", "(total)"), "", bill.byCategory, bill.total, fen.categories, fen.total);

    std::vector<std::string> notes;
    std::string versions;
    for (const std::string& version : bill.tariffVersions)
        versions += (versions.empty() ? "" : lang == Lang::en ? ", " : "，") + version;
    if (lang == Lang::en)
        notes.push_back("Tariff " + std::string(bill.tariffVersions.size() == 1 ? "version" : "versions") +
                        " used: " + (versions.empty() ? std::string("none") : "valid from " + versions));
    else
        notes.push_back("所用资费：" + (versions.empty() ? std::string("无") : versions + " 起施行的版本"));
    for (const BillGroup& group : bill.groups)
        if (group.unlisted && bill.by != "person") {
            std::string numbers;
            for (const std::string& number : group.extensions) numbers += (numbers.empty() ? "" : ", ") + number;
            notes.push_back(group.name + (lang == Lang::en ? ": extensions not in the directory: " : "：名录中没有的分机 ") +
                            numbers);
        }
    if (bill.incoming)
        notes.push_back(lang == Lang::en
                            ? std::to_string(bill.incoming) +
                                  (bill.incoming == 1 ? " incoming call is" : " incoming calls are") + " not billed."
                            : "来电 " + std::to_string(bill.incoming) + " 次，不计费。");
    if (!fen.exact)
        notes.push_back(
            said(lang,
                 "金额显示到分：按最大余数法取整，各组之和等于合计，组内各类之和等于该组小计；精确到厘的金额见 "
                 "--format json。",
                 "Costs to the fen, rounded by largest remainder so that the groups add up to the total and "
                 "each group's categories to the group; exact amounts to the li in --format json."));
    for (const auto& [why, calls] : unrated)
        notes.push_back(lang == Lang::en ? std::to_string(calls.calls) + (calls.calls == 1 ? " call" : " calls") +
                                               " not rated (counted at 0): " + why + "; list them with --unrated"
                                         : std::to_string(calls.calls) + " 次通话未计费（按 0 元计）：" + why +
                                               "；用 --unrated 列出");
    if (format == Format::csv) {
        if (notesOut) *notesOut = std::move(notes);
        return renderCsv({table});
    }
    std::string out = renderTables({table}) + "\n";
    for (const std::string& note : notes) out += printable(note) + "\n";
    return out;
}

}  // namespace quelvar::report
