"""A workbook as openpyxl (python3-openpyxl) and zipfile see it, for
xlsx_report_test.cpp: one fact a line, its fields parted by tabs.

  sheets  NAME...            the sheets in order
  active  NAME               the sheet that opens
  cell    SHEET CELL TYPE VALUE FORMAT
                             every cell that holds something, with its cached
                             value (data_only=True): TYPE n for a number, s for
                             text, d for a date-time (VALUE ISO 8601), t for a
                             duration (VALUE in seconds), b for a boolean
  formula SHEET CELL TEXT    every formula (data_only=False)
  freeze  SHEET CELL         the first cell below and right of frozen panes
  filter  SHEET RANGE        the autofilter's range
  part    NAME               every part of the zip
  rel     PART TARGET        each relationship of each part
  chartref PART FORMULA      each range a chart's series refer to
  chartcat PART KIND         each series' categories: strRef (text) or numRef

usage: read_xlsx.py WORKBOOK
       read_xlsx.py --stale WORKBOOK COPY
The second writes a copy whose formulas' cached results are all -1: a program
that shows the right totals from it has recalculated them.
"""
import datetime
import re
import sys
import zipfile

import openpyxl


def field(value):
    return str(value).replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n').replace('\r', '\\r')


def shown(value):
    if isinstance(value, bool):
        return 'b', str(int(value))
    if isinstance(value, (int, float)):
        return 'n', repr(value)
    if isinstance(value, datetime.datetime):
        return 'd', value.isoformat()
    if isinstance(value, datetime.timedelta):
        return 't', repr(value.total_seconds())
    if isinstance(value, datetime.time):
        return 't', repr(value.hour * 3600 + value.minute * 60 + value.second + value.microsecond / 1e6)
    return 's', value


def main(path):
    out = []
    values = openpyxl.load_workbook(path, data_only=True)
    formulas = openpyxl.load_workbook(path, data_only=False)
    out.append(['sheets'] + values.sheetnames)
    out.append(['active', values.active.title])
    for sheet in values.worksheets:
        if sheet.freeze_panes:
            out.append(['freeze', sheet.title, sheet.freeze_panes])
        if sheet.auto_filter.ref:
            out.append(['filter', sheet.title, sheet.auto_filter.ref])
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is None:
                    continue
                kind, value = shown(cell.value)
                out.append(['cell', sheet.title, cell.coordinate, kind, value, cell.number_format])
    for sheet in formulas.worksheets:
        for row in sheet.iter_rows():
            for cell in row:
                if cell.data_type == 'f':
                    out.append(['formula', sheet.title, cell.coordinate, cell.value])
    # openpyxl does not load charts: the zip's own parts say whether one is there.
    with zipfile.ZipFile(path) as package:
        for name in package.namelist():
            out.append(['part', name])
            text = package.read(name).decode('utf-8', 'replace')
            if name.endswith('.rels'):
                for target in re.findall(r'Target="([^"]*)"', text):
                    out.append(['rel', name, target])
            if name.startswith('xl/charts/'):
                for formula in re.findall(r'<c:f>([^<]*)</c:f>', text):
                    out.append(['chartref', name, formula])
                for kind in re.findall(r'<c:cat><c:(\w+)>', text):
                    out.append(['chartcat', name, kind])
    sys.stdout.buffer.write(''.join('\t'.join(field(f) for f in line) + '\n' for line in out).encode('utf-8'))


def stale(path, copy):
    with zipfile.ZipFile(path) as source, zipfile.ZipFile(copy, 'w', zipfile.ZIP_DEFLATED) as target:
        for item in source.infolist():
            data = source.read(item.filename)
            if item.filename.startswith('xl/worksheets/') and item.filename.endswith('.xml'):
                data = re.sub(rb'(</f>)<v>[^<]*</v>', rb'\1<v>-1</v>', data)
            target.writestr(item, data)


if __name__ == '__main__':
    if sys.argv[1] == '--stale':
        stale(sys.argv[2], sys.argv[3])
    else:
        main(sys.argv[1])
