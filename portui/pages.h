// The pages a port's sheet can hold: each has a dialog procedure and a prepare function that
// decides whether the page is added and prepares its part of the context.
#pragma once

#include "page_context.h"

INT_PTR CALLBACK SettingsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareSettingsPage(PortPageContext* context);

INT_PTR CALLBACK AdvancedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareAdvancedPage(PortPageContext* context);

INT_PTR CALLBACK SoftwarePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareSoftwarePage(PortPageContext* context);

INT_PTR CALLBACK XonXoffPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareXonXoffPage(PortPageContext* context);
INT_PTR CALLBACK DtrDsrPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareDtrDsrPage(PortPageContext* context);
INT_PTR CALLBACK RtsCtsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareRtsCtsPage(PortPageContext* context);
