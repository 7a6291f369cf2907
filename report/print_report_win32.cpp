// The printed report with GDI: the print job, its page mapping, and the four pieces it draws.
#include "report/print_report_win32.h"

#include "base/gdi_resources_win32.h"
#include "base/live_readings.h"
#include "base/settings.h"
#include "link/shared_field.h"
#include "params/parameter_set.h"
#include "report/print_job.h"
#include "report/printed_plot.h"
#include "report/report_layout.h"
#include "report/report_texts.h"
#include "report/scoped_win32.h"
#include "trend/trend_geometry.h"
#include "trend/trend_history.h"

namespace {

using ScopedFont = ScopedGdiObject<HFONT>;

// reportFont in one of its variants, made for one use.
HFONT createReportFont(ReportFontVariant variant)
{
    LOGFONTA font = {};
    font.lfHeight = variant.height;
    font.lfWeight = variant.weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynA(font.lfFaceName, REPORT_FONT_FACE, LF_FACESIZE);
    return CreateFontIndirectA(&font);
}

void text(HDC dc, int x, int y, const char *s)
{
    TextOutA(dc, x, y, s, lstrlenA(s));
}

void line(HDC dc, int x0, int y0, PlotSegment s)
{
    MoveToEx(dc, x0 + s.from.dx, y0 + s.from.dy, nullptr);
    LineTo(dc, x0 + s.to.dx, y0 + s.to.dy);
}

// What one job works on: the printer's context and the document's name.
struct PrintTarget {
    HDC dc;
    const char *documentName;
};

HDC dcOf(void *context)
{
    return static_cast<PrintTarget *>(context)->dc;
}

bool job_startDocument(void *context)
{
    DOCINFOA info = {};
    info.cbSize = sizeof info;
    info.lpszDocName = static_cast<PrintTarget *>(context)->documentName;
    return StartDocA(dcOf(context), &info) > 0;
}

bool job_startPage(void *context)
{
    return StartPage(dcOf(context)) > 0;
}

void job_drawPage(void *context)
{
    const HDC dc = dcOf(context);
    const int horzRes = GetDeviceCaps(dc, HORZRES);
    const int vertRes = GetDeviceCaps(dc, VERTRES);
    const ReportLayout layout = reportLayout(horzRes, vertRes);
    // The logical page is stretched independently in x and y onto the printable area.
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, layout.pageWidth, layout.pageHeight, nullptr);
    SetViewportExtEx(dc, horzRes, vertRes, nullptr);
    SetViewportOrgEx(dc, 0, 0, nullptr);

    printReportHeader(dc);
    printTrendAxes(dc, layout.plotOrigin.x, layout.plotOrigin.y);
    printTrend(dc, layout.plotOrigin.x, layout.plotOrigin.y);
    printParameterList(dc, layout.listingOrigin.x, layout.listingOrigin.y);
}

bool job_endPage(void *context)
{
    return EndPage(dcOf(context)) > 0;
}

// Wine hands the job to the print server here, and answers 0 when the server
// refused it (a queue that rejects jobs, or no server at all).
bool job_endDocument(void *context)
{
    return EndDoc(dcOf(context)) > 0;
}

long job_lastError(void *)
{
    return static_cast<long>(GetLastError());
}

} // namespace

void printReportHeader(HDC dc)
{
    char shown[REPORT_TEXT_SIZE];
    {
        char unit[UNIT_TEXT_SIZE + 1];
        copyUnitText(unit);
        formatReportUnitLine(unit, shown, sizeof shown);
        const ScopedFont title(createReportFont(REPORT_FONT_TITLE));
        const ScopedSelection selected(dc, title.get());
        text(dc, REPORT_UNIT_AT.x, REPORT_UNIT_AT.y, shown);
    }
    const ScopedFont body(createReportFont(REPORT_FONT_BODY));
    const ScopedSelection selected(dc, body.get());

    // A part the system cannot format (0: the result does not fit, or the
    // user's format is refused) may be left full and unterminated: it is
    // written again in its plain form, of the same moment.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[REPORT_DATE_PART_SIZE];
    char time[REPORT_DATE_PART_SIZE];
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &now, nullptr, date, REPORT_DATE_PART_SIZE) == 0)
        formatPlainDate(now.wYear, now.wMonth, now.wDay, date, sizeof date);
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &now, nullptr, time, REPORT_DATE_PART_SIZE) == 0)
        formatPlainTime(now.wHour, now.wMinute, time, sizeof time);
    formatReportDateLine(date, time, shown, sizeof shown);
    text(dc, REPORT_DATE_AT.x, REPORT_DATE_AT.y, shown);

    formatReportPeakLine(sharedLoad(deviceParameters.dpdtMode), sharedLoad(liveReadings.maxPeak),
                         sharedLoad(liveReadings.minPeak), sharedLoad(liveReadings.dpdtPeak), shown, sizeof shown);
    text(dc, REPORT_PEAKS_AT.x, REPORT_PEAKS_AT.y, shown);
}

void printTrendAxes(HDC dc, int x0, int y0)
{
    const ScopedSelection pen(dc, gdiResources.axisPen);
    for (const PrintedAxis &axis : PRINTED_AXES) {
        MoveToEx(dc, x0 + axis.polyline[0].dx, y0 + axis.polyline[0].dy, nullptr);
        LineTo(dc, x0 + axis.polyline[1].dx, y0 + axis.polyline[1].dy);
        LineTo(dc, x0 + axis.polyline[2].dx, y0 + axis.polyline[2].dy);
        line(dc, x0, y0, axis.secondStroke);
    }
    for (int dy : PRINTED_SCALE_TICK_DY)
        line(dc, x0, y0, {{PRINTED_Y_AXIS_DX, dy}, {PRINTED_SCALE_TICK_END_DX, dy}});
    for (int dx : PRINTED_TIME_TICK_DX)
        line(dc, x0, y0, {{dx, 0}, {dx, PRINTED_TIME_TICK_END_DY}});

    ParameterSet p;
    copyDeviceParameters(&p);
    const PrintedLimitLines limits = printedLimitLines(p);
    if (limits.count > 0) {
        const ScopedSelection limitPen(dc, gdiResources.limitPen);
        for (int i = 0; i < limits.count; ++i)
            line(dc, x0, y0, {{0, limits.dy[i]}, {PRINTED_LIMIT_LINE_END_DX, limits.dy[i]}});
    }

    // The labels go out on the context's own background colour.
    const ScopedSelection font(dc, gdiResources.axisFont);
    {
        const ScopedTextAlign align(dc, TA_BOTTOM | TA_CENTER);
        text(dc, x0 + PRINTED_POWER_LABEL.at.dx, y0 + PRINTED_POWER_LABEL.at.dy, PRINTED_POWER_LABEL.text);
    }
    {
        const ScopedTextAlign align(dc, TA_BOTTOM | TA_LEFT);
        for (const PlotLabel &label : PRINTED_SCALE_LABELS)
            text(dc, x0 + label.at.dx, y0 + label.at.dy, label.text);
    }
    {
        const ScopedTextAlign align(dc, TA_TOP | TA_LEFT);
        text(dc, x0 + PRINTED_TIME_LABEL.at.dx, y0 + PRINTED_TIME_LABEL.at.dy, PRINTED_TIME_LABEL.text);
    }
    const ScopedTextAlign align(dc, TA_TOP | TA_CENTER);
    const int mode = currentRollMode();
    for (int row = 0; row < TIME_TICK_COUNT; ++row)
        text(dc, x0 + PRINTED_TIME_TICK_DX[row], y0 + PRINTED_TIME_LABEL_DY, timeAxisLabels[row][mode]);
}

void printTrend(HDC dc, int x0, int y0)
{
    // Unlike the screen, the whole ring is printed even before the first
    // sample (a flat line on the baseline), and without an end marker.
    const ScopedSelection pen(dc, gdiResources.tracePen);
    const PlotArea &area = PRINTED_TRACE_AREA;
    const ScopedClipRect clip(dc, x0 + area.start.dx, y0 + area.start.dy, x0 + area.end.dx, y0 + area.end.dy);
    MoveToEx(dc, x0, y0 - printedColumnOffset(0), nullptr);
    for (int column = 1; column < TREND_LENGTH; ++column)
        LineTo(dc, x0 + column, y0 - printedColumnOffset(column));
}

void printParameterList(HDC dc, int x0, int y0)
{
    const ReportPoint origin = {x0, y0};
    const ScopedTextAlign align(dc, TA_BOTTOM | TA_LEFT);
    {
        const ScopedFont title(createReportFont(REPORT_FONT_TITLE));
        const ScopedSelection selected(dc, title.get());
        const ReportLabel label = listingTitle(origin);
        text(dc, label.at.x, label.at.y, label.text);
    }
    {
        const ScopedFont section(createReportFont(REPORT_FONT_SECTION));
        const ScopedSelection selected(dc, section.get());
        ReportLabel sections[LISTING_SECTION_COUNT];
        listingSections(origin, sections);
        for (const ReportLabel &label : sections)
            text(dc, label.at.x, label.at.y, label.text);
    }
    ParameterSet p;
    copyDeviceParameters(&p);
    ReportLine lines[LISTING_LINE_COUNT];
    listingLines(p, origin, lines);
    const ScopedFont body(createReportFont(REPORT_FONT_BODY));
    const ScopedSelection selected(dc, body.get());
    for (const ReportLine &l : lines)
        text(dc, l.at.x, l.at.y, l.text);
}

long printReport(HDC dc, const char *documentName, PrintStep *failed)
{
    PrintTarget target = {dc, documentName};
    const PrintJobOps ops = {&target,     job_startDocument, job_startPage, job_drawPage,
                             job_endPage, job_endDocument,   job_lastError};
    return runPrintJob(ops, failed);
}
