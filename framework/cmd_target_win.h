// CCmdTarget: the base of everything that takes commands (menu entries, buttons).
// Each class may keep a command map: a table of command ids and the member
// functions that handle them, chained to its base class's table. A command is
// offered along a route (view, frame, application; or dialog, application) until
// one object handles it.
#pragma once

#include <windows.h>

#include <cstddef>

class CCmdTarget {
public:
    using Handler = void (CCmdTarget::*)();

    // One row of a command map. `code` is the notification code: 0 for menu
    // entries, accelerators and button clicks (BN_CLICKED), or a control's own
    // notification (EN_CHANGE, ...).
    struct CommandEntry {
        UINT id;
        UINT code;
        Handler handler;
    };
    struct CommandMap {
        const CommandMap* base;
        const CommandEntry* entries;
        size_t count;
    };

    // A row for `handler`, a member function of a class derived from CCmdTarget.
    template <class T>
    static constexpr CommandEntry Command(UINT id, void (T::*handler)(), UINT code = 0)
    {
        return {id, code, static_cast<Handler>(handler)};
    }

    virtual ~CCmdTarget() = default;

    // Runs the handler of (`id`, `code`) from this object's command maps; TRUE
    // when one ran. Derived classes extend the route by overriding.
    virtual BOOL OnCmdMsg(UINT id, UINT code);

protected:
    // The command map of the most derived class that declares one; the root's is
    // empty.
    static const CommandMap kCommandMap;
    virtual const CommandMap* GetCommandMap() const { return &kCommandMap; }
};

// Declares the command map of a class (in the class body) and defines it (in the
// source file, followed by the rows in braces and a semicolon).
#define CORVANE_DECLARE_COMMAND_MAP()                                   \
protected:                                                              \
    static const CommandEntry kCommandEntries[];                        \
    static const CommandMap kCommandMap;                                \
    const CommandMap* GetCommandMap() const override { return &kCommandMap; }

#define CORVANE_COMMAND_MAP(Class, Base, ...)                                       \
    const CCmdTarget::CommandEntry Class::kCommandEntries[] = {__VA_ARGS__};         \
    const CCmdTarget::CommandMap Class::kCommandMap = {                             \
        &Base::kCommandMap, Class::kCommandEntries,                            \
        sizeof Class::kCommandEntries / sizeof Class::kCommandEntries[0]};
