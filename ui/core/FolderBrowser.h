#pragma once

// The folder browser behind a class, once for both windows: the prompt, the flags, the
// folder to preselect, the status line that shows the highlighted folder's path, and the
// chosen path. Each toolkit supplies its browse dialog as Shell:
//   Owner, Root, Item, Window    its types; a value-initialised Window is "none showing"
//   String                       its text (local bytes in Qt, UTF-16 on Windows)
//   Callback                     std::function<void(Window, int message, const Item &)>
//   ResourceString(id)           a string resource, empty when there is none
//   Run(owner, root, title, flags, callback)
//                                shows the dialog modally; the chosen folder's path (empty
//                                for an item without one), or nothing when cancelled
//   Select, ShowStatus           the two requests to the showing dialog
//   PathOf(window, item)         an item's path, empty when it has none

#include <optional>

namespace kelvane::ui {

// The browse dialog's notifications, with the shell's values.
inline constexpr int kBrowseInitialized = 1;
inline constexpr int kBrowseSelChanged = 2;

template<class Shell>
class CFolderBrowserBase
{
public:
    using String = typename Shell::String;
    using Owner = typename Shell::Owner;
    using Root = typename Shell::Root;
    using Item = typename Shell::Item;
    using Window = typename Shell::Window;

    // promptId: a string resource, or 0 for none.
    CFolderBrowserBase(Owner owner, Root root, int promptId)
    {
        SetOwner(owner);
        SetRoot(root);
        SetTitle(promptId);
    }
    virtual ~CFolderBrowserBase() = 0;
    CFolderBrowserBase(const CFolderBrowserBase &) = delete;
    CFolderBrowserBase &operator=(const CFolderBrowserBase &) = delete;

    // These four change nothing while the browse dialog is showing.
    void SetOwner(Owner owner) { SetIdle(owner_, owner); }
    void SetRoot(Root root) { SetIdle(root_, root); }
    void SetFlags(unsigned flags) { SetIdle(flags_, flags); }
    void SetTitle(const String &text) { SetIdle(title_, text); }
    bool SetTitle(int stringId)
    {
        const String text = stringId < 1 ? String() : Shell::ResourceString(stringId);
        if (text.empty())
            return false;
        SetTitle(text);
        return true;
    }

    // Runs the browse dialog; true when a folder with a file-system path was chosen.
    bool Browse()
    {
        const std::optional<String> path = Shell::Run(
            owner_, root_, title_, flags_, [this](Window window, int message, const Item &item) {
                Notify(window, message, item);
            });
        window_ = Window();
        chosenPath_ = path.value_or(String());
        return !chosenPath_.empty();
    }
    // The chosen folder's full path after a successful Browse.
    String GetFolderPath() const { return chosenPath_; }

    // The browse dialog while it is showing, else none.
    Window BrowseWindow() const { return window_; }
    bool Showing() const { return window_ != Window(); }
    const String &Title() const { return title_; }
    unsigned Flags() const { return flags_; }

    // These two act only while the browse dialog is showing.
    void SetSelection(const String &path)
    {
        if (Showing())
            Shell::Select(window_, path);
    }
    void SetStatusText(const String &text)
    {
        if (Showing())
            Shell::ShowStatus(window_, text);
    }

protected:
    virtual void OnInitialized() { }
    virtual void OnSelChanged(const Item &) { }
    String PathOf(const Item &item) const { return Shell::PathOf(window_, item); }

private:
    template<class T>
    void SetIdle(T &setting, const T &value)
    {
        if (!Showing())
            setting = value;
    }
    void Notify(Window window, int message, const Item &item)
    {
        window_ = window;
        if (message == kBrowseInitialized)
            OnInitialized();
        else if (message == kBrowseSelChanged)
            OnSelChanged(item);
    }

    Owner owner_ {};
    Root root_ {};
    unsigned flags_ = 0;
    String title_;
    String chosenPath_;
    Window window_ {};
};

template<class Shell>
CFolderBrowserBase<Shell>::~CFolderBrowserBase() = default;

template<class Shell>
class CFolderBrowser : public CFolderBrowserBase<Shell>
{
    using Base = CFolderBrowserBase<Shell>;

public:
    CFolderBrowser(typename Base::Owner owner, int promptId)
        : Base(owner, typename Base::Root(), promptId)
    { }

    void SetInitialFolder(const typename Base::String &path) { initialFolder_ = path; }

protected:
    // The field's folder preselected, and its text in the status line even where it names
    // no folder.
    void OnInitialized() override
    {
        this->SetSelection(initialFolder_);
        this->SetStatusText(initialFolder_);
    }
    // Blank for an item that is no file-system folder.
    void OnSelChanged(const typename Base::Item &item) override
    {
        this->SetStatusText(this->PathOf(item));
    }

private:
    typename Base::String initialFolder_;
};

} // namespace kelvane::ui
