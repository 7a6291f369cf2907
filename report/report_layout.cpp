// The report page's orientation, extent and the origins of its pieces.
#include "report/report_layout.h"

static constexpr ReportLayout PORTRAIT = {false, REPORT_PAGE_SHORT_SIDE, REPORT_PAGE_LONG_SIDE, {45, 430}, {150, 500}};
static constexpr ReportLayout LANDSCAPE = {true, REPORT_PAGE_LONG_SIDE, REPORT_PAGE_SHORT_SIDE, {310, 510}, {20, 200}};

ReportLayout reportLayout(int horzRes, int vertRes)
{
    return horzRes < vertRes ? PORTRAIT : LANDSCAPE;
}
