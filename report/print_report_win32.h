// The printed report on a printer device context: the print job and its four drawing pieces.
#pragma once

#include <windows.h>

#include "report/print_job.h"

// The whole job: document (named documentName), page, the page mapping for the
// printable area's orientation, the four pieces, end of page and document.
// Returns 0, or the system error code of the step that failed (StartDocA,
// StartPage, EndPage, EndDoc; never 0) with *failed naming it, after which
// nothing more is asked of the job.
long printReport(HDC dc, const char *documentName, PrintStep *failed);

// The pieces, in the report page's logical units; each leaves the font, pen
// and text alignment as it found them and deletes the fonts it made.
void printReportHeader(HDC dc);
void printTrendAxes(HDC dc, int x0, int y0);
void printTrend(HDC dc, int x0, int y0);
void printParameterList(HDC dc, int x0, int y0);
