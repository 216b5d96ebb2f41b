"""Whether the figures a bill shows to the fen add up, read as an office
would read them: the groups to the total, each group's categories to the
group, each category's column to its total.

usage: shown_figures.py csv|table|xlsx FILE
Prints "groups N sum FEN total FEN" and every figure that does not add up;
exit status 0 when everything adds up, 1 when not.
"""
import csv
import sys


def fen(text):
    text = text.strip()
    negative = text.startswith('-')
    whole, _, part = text.lstrip('-').partition('.')
    value = int(whole) * 100 + int((part + '00')[:2])
    return -value if negative else value


def rows_of_long_table(rows, group_at, category_at, cost_at):
    """(group, category, fen) of a table with a row per group and category."""
    return [(r[group_at], r[category_at], fen(r[cost_at])) for r in rows]


def check_long(entries, problems):
    groups = {}
    order = []
    for group, category, amount in entries:
        if group not in groups:
            groups[group] = {}
            order.append(group)
        groups[group][category] = amount
    total_name = order[-1]
    all_name = next(c for c in groups[total_name] if c in ('小计', '(all)'))
    shown = [groups[g][all_name] for g in order[:-1]]
    total = groups[total_name][all_name]
    if sum(shown) != total:
        problems.append('groups add up to %d, the total shows %d' % (sum(shown), total))
    for g in order:
        parts = sum(v for c, v in groups[g].items() if c != all_name)
        if parts != groups[g][all_name]:
            problems.append('%s: categories add up to %d, the group shows %d' % (g, parts, groups[g][all_name]))
    for c in groups[total_name]:
        if c == all_name:
            continue
        column = sum(groups[g].get(c, 0) for g in order[:-1])
        if column != groups[total_name][c]:
            problems.append('%s: the groups add up to %d, the total shows %d' % (c, column, groups[total_name][c]))
    return len(shown), sum(shown), total


def main(kind, path):
    problems = []
    if kind == 'csv':
        with open(path, encoding='utf-8-sig', newline='') as f:
            rows = list(csv.reader(f))
        header = rows[0]
        category_at = header.index('类别') if '类别' in header else header.index('category')
        cost_at = len(header) - 1
        result = check_long(rows_of_long_table(rows[1:], 0, category_at, cost_at), problems)
    elif kind == 'table':
        lines = open(path, encoding='utf-8').read().split('\n')
        rule = next(i for i, line in enumerate(lines) if line.startswith('--'))
        entries = []
        for line in lines[rule + 1:]:
            if not line.strip():
                break
            cells = line.split()
            # the group, [the department], the category, then five numbers
            entries.append((cells[0], cells[-6], fen(cells[-1])))
        result = check_long(entries, problems)
    else:
        import openpyxl
        sheet = openpyxl.load_workbook(path, data_only=True).worksheets[0]
        header = [c.value for c in sheet[4]]
        total_at = len(header) - 1
        first = next(i for i, h in enumerate(header) if h in ('时长', 'duration')) + 1
        body = []
        for row in sheet.iter_rows(min_row=5, values_only=True):
            if row[0] is None:
                break
            body.append(row)
        entries = []
        for row in body:
            name = row[0]
            for i in range(first, total_at):
                entries.append((name, header[i], round(row[i] * 100)))
            entries.append((name, '小计', round(row[total_at] * 100)))
        result = check_long(entries, problems)
    print('groups %d sum %d total %d' % result)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
