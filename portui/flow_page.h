// What the three automatic flow-control pages (Auto Xon/Xoff, Auto DTR/DSR, Auto RTS/CTS) have in
// common: an "on" and an "off" level field coupled through the level slots, a page that is active
// only while the chosen UART type can do its kind of flow control and the Settings page chose the
// matching flow control, and the rule that keeps "on" at or below "off". Each page says what is
// its own through a FlowPage.
#pragma once

#include "page_context.h"

class FlowPage {
public:
    struct Ids {
        int lowLabel, highLabel, edit, trackbar;
    };

    FlowPage(int page, uint8_t capability, uint8_t flowControl, int onKind, int offKind, Ids on, Ids off,
                       bool otherLevelFollows)
        : page_(page), capability_(capability), flowControl_(flowControl), onKind_(onKind), offKind_(offKind),
          onIds_(on), offIds_(off), otherLevelFollows_(otherLevelFollows)
    {
    }

    // Adds the page when the port's highest UART type can do the page's flow control; notifier is
    // the page's function that calls HandleNotification.
    int Prepare(PortPageContext* context, void (*notifier)(PortPageContext*, int)) const;
    INT_PTR Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
    void HandleNotification(PortPageContext& context, int kind) const;

protected:
    // The page's part of the context.
    virtual HWND& Window(PortPageContext& context) const = 0;
    virtual TrackbarField& On(PortPageContext& context) const = 0;
    virtual TrackbarField& Off(PortPageContext& context) const = 0;
    virtual int32_t& OnSlot(PortPageContext& context) const = 0;
    virtual int32_t& OffSlot(PortPageContext& context) const = 0;
    virtual bool Active(const PortPageContext& context) const = 0;
    virtual void SetActive(PortPageContext& context, bool active) const = 0;
    virtual bool OnFixed(const PortPageContext& context) const = 0;
    virtual bool OffFixed(const PortPageContext& context) const = 0;
    virtual void SetFixed(PortPageContext& context, bool on, bool off) const = 0;
    // Whether the levels mean anything with the page's own choices (besides being active).
    virtual bool LevelsUsable(const PortPageContext& context) const = 0;

    // The page's own choices from PORTINFO (prepare), its own controls (creation, and enabling
    // whenever the active flag or a choice changed), its own commands (true when a choice
    // changed) and its store step.
    virtual void ReadStoredChoices(PortPageContext& context) const = 0;
    virtual void InitialiseOwnControls(HWND window, PortPageContext& context) const = 0;
    virtual void UpdateOwnControls(HWND window, PortPageContext& context) const = 0;
    virtual bool OnOwnCommand(HWND window, PortPageContext& context, int id, int notification) const = 0;
    virtual void Store(PortPageContext& context) const = 0;

    // The page's controls and level fields enabled for the active flag and the choices.
    void UpdateControls(HWND window, PortPageContext& context) const;
    // The value to store for the "on" or "off" level.
    uint16_t LevelToStore(PortPageContext& context, bool on) const;

private:
    bool ComputeActive(const PortPageContext& context) const;
    void Build(PortPageContext& context) const;
    void Rebuild(PortPageContext& context) const;
    void KeepOrder(PortPageContext& context, bool onChanged, bool offChanged, bool byTrackbar) const;
    void MoveLevel(PortPageContext& context, bool on, int position) const;
    void PublishAndRefresh(PortPageContext& context) const;
    void OnCommand(HWND window, PortPageContext& context, int id, int notification) const;
    void OnScroll(PortPageContext& context) const;

    int page_;
    uint8_t capability_;
    uint8_t flowControl_;
    int onKind_, offKind_;
    Ids onIds_, offIds_;
    bool otherLevelFollows_;  // Xon/Xoff: the other level follows an edit too; else the edited one gives way
};
