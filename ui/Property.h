// A property of a control: reads like a field (GoBtn->Enabled = false;
// if (GoBtn->Enabled()) ...) but goes through the control's getter and setter,
// so the widget underneath is always the one source of truth.
#pragma once

#include <functional>
#include <utility>

template <class T>
class Property {
public:
    using Getter = std::function<T()>;
    using Setter = std::function<void(const T&)>;

    Property(Getter get, Setter set) : get_(std::move(get)), set_(std::move(set)) {}
    Property(const Property&) = delete;

    T operator()() const { return get_(); }
    operator T() const { return get_(); }

    Property& operator=(const T& value)
    {
        set_(value);
        return *this;
    }
    // Copies the value, not the binding: a->Text = b->Text.
    Property& operator=(const Property& other)
    {
        set_(other.get_());
        return *this;
    }

private:
    Getter get_;
    Setter set_;
};
