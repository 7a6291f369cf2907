// The report page by orientation: its logical extent and where the plot and the listing go.
//
// A logical page of 600 x 860 units (portrait) or 860 x 600 (landscape) is
// stretched onto the printable area.
#pragma once

#include "report/report_texts.h"

inline constexpr int REPORT_PAGE_SHORT_SIDE = 600;
inline constexpr int REPORT_PAGE_LONG_SIDE = 860;

struct ReportLayout {
    bool landscape;
    int pageWidth;  // window extent, logical units
    int pageHeight;
    ReportPoint plotOrigin;    // printTrendAxes and printTrend
    ReportPoint listingOrigin; // printParameterList
};

// By the printable area in device pixels (HORZRES, VERTRES): portrait only
// when it is taller than wide, so a square area is printed in landscape.
ReportLayout reportLayout(int horzRes, int vertRes);
