// The page protocol of the four parameter pages: titles and templates, and each step handed to the page's rules.
#include "params/parameter_pages.h"

#include "params/page_controls.h"
#include "params/page_rules.h"

// In sheet order, indexed by ParameterPage.
static const char *const PAGE_TITLES[PARAMETER_PAGE_COUNT] = {"Limit 1", "Limit 2", "dPdt", "Setup"};
static const int PAGE_TEMPLATES[PARAMETER_PAGE_COUNT] = {IDD_LIMIT1_PAGE, IDD_LIMIT2_PAGE, IDD_DPDT_PAGE,
                                                         IDD_SETUP_PAGE};

const char *parameterPageTitle(ParameterPage page)
{
    return PAGE_TITLES[static_cast<int>(page)];
}

int parameterPageTemplate(ParameterPage page)
{
    return PAGE_TEMPLATES[static_cast<int>(page)];
}

void initPage(ParameterPage page, const PageOps &ops)
{
    switch (page) {
    case ParameterPage::Limit1:
    case ParameterPage::Limit2:
        initLimit(ops);
        break;
    case ParameterPage::Dpdt:
        initDpdt(ops);
        break;
    case ParameterPage::Setup:
        initSetup(ops);
        break;
    }
}

void activatePage(ParameterPage page, const PageOps &ops)
{
    if (const LimitPage *p = limitPage(page))
        activateLimit(ops, *p);
    else if (page == ParameterPage::Dpdt)
        activateDpdt(ops);
    else
        activateSetup(ops);
    ops.postUnchanged(ops.page);
}

void leavePage(const PageOps &ops)
{
    ops.postUnchanged(ops.page);
}

void applyPage(ParameterPage page, const PageOps &ops)
{
    if (const LimitPage *p = limitPage(page))
        applyLimit(ops, *p);
    else if (page == ParameterPage::Dpdt)
        applyDpdt(ops);
    else
        applySetup(ops);
}

static bool isEditField(ParameterPage page, int control)
{
    switch (page) {
    case ParameterPage::Limit1:
    case ParameterPage::Limit2:
        return control == IDC_SETPOINT || control == IDC_TR || control == IDC_HYSTERESIS;
    case ParameterPage::Dpdt:
        return control == IDC_SETPOINT || control == IDC_DVDT;
    case ParameterPage::Setup:
        return control == IDC_TS || control == IDC_P1MAX || control == IDC_P1MIN;
    }
    return false;
}

void pageCommand(ParameterPage page, const PageOps &ops, int control, int notification)
{
    if (isEditField(page, control)) {
        if (notification != EDIT_LOST_FOCUS)
            return;
        if (const LimitPage *p = limitPage(page))
            limitFieldLeft(ops, *p, control);
        else if (page == ParameterPage::Dpdt)
            dpdtFieldLeft(ops, control);
        else
            setupFieldLeft(ops, control);
        return;
    }
    // Combo boxes act on every notification; the selection decides.
    if (const LimitPage *p = limitPage(page))
        limitCommand(ops, *p, control);
    else if (page == ParameterPage::Dpdt)
        dpdtCommand(ops, control);
    else
        setupCommand(ops, control);
}
