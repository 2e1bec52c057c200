// A form: one top-level window with its controls as members. Forms are made
// once and shown when needed; ShowModal goes through the responder (see
// ui/Responder.h), so tests and the command-line front end decide what a
// modal form answers.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/Controls.h"

class TForm : public TWinControl {
public:
    explicit TForm(std::string name);
    ~TForm() override;

    Property<std::string> Caption;
    Property<int> ClientWidth;
    Property<int> ClientHeight;
    // Setting a result other than mrNone while the form runs modally closes it.
    Property<int> ModalResult;
    // Centre on the screen when first shown.
    bool CenterOnScreen = true;
    // A fixed-size dialog frame instead of a resizable window.
    bool DialogBorder = false;

    void Show();
    void Hide();
    // Asks OnCloseQuery; true when the form closed.
    bool Close();
    bool Showing() const;

    // Shows the form modally through the current responder.
    TModalResult ShowModal();
    // The real modal run: shows the window, runs a nested event loop until
    // ModalResult is set or the window is closed, hides it, returns the result.
    TModalResult ExecModal();
    bool InModalLoop() const { return modalLoop_ != nullptr; }

    std::function<void(bool& CanClose)> OnCloseQuery;
    TNotifyEvent OnShow;
    // After the window went away, however it was closed.
    TNotifyEvent OnHide;
    TNotifyEvent OnClose;
    // With KeyPreview set, OnKeyDown hears every key pressed in the window
    // before the control with the focus does; setting Key to 0 keeps it from
    // that control.
    bool KeyPreview = false;
    TKeyEvent OnKeyDown;

    // Creates a control owned by this form.
    template <class T, class P, class... Args>
    T* Make(P* parent, std::string name, Args&&... args)
    {
        auto control = std::make_unique<T>(parent, std::move(name), std::forward<Args>(args)...);
        T* raw = control.get();
        owned_.push_back(std::move(control));
        return raw;
    }

    // Pressed by Enter and Esc (TButton::Default / Cancel); null when none.
    TButton* DefaultButton() const;
    TButton* CancelButton() const;

private:
    friend class FormWindow;
    friend class TButton;
    bool QueryClose();
    void PlaceOnScreen();

    std::vector<std::unique_ptr<TControl>> owned_;
    std::unique_ptr<class KeyPreviewFilter> keyPreview_;
    int modalResult_ = mrNone;
    class QEventLoop* modalLoop_ = nullptr;
    bool placed_ = false;
};
