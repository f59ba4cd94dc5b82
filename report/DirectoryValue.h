#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

// One attribute value as the directory hands it over: a list of values, a text, or one of the
// other kinds a directory value may take. Texts are UTF-8.
class DirectoryValue {
public:
    enum class Kind { Empty, Null, Text, Integer, Real, Boolean, Object, List, NoTextForm };

    DirectoryValue() = default;

    static DirectoryValue Empty() { return DirectoryValue(Kind::Empty); }
    static DirectoryValue Null() { return DirectoryValue(Kind::Null); }
    static DirectoryValue Text(std::string text);
    static DirectoryValue Integer(std::int64_t value);
    static DirectoryValue Real(double value);
    static DirectoryValue Boolean(bool value);
    // An object reference: it has no text form.
    static DirectoryValue Object() { return DirectoryValue(Kind::Object); }
    // A value of a kind that has no text form (raw bytes, a date the platform could not map, ...).
    static DirectoryValue NoTextForm() { return DirectoryValue(Kind::NoTextForm); }
    // A list whose first element sits at lowerBound.
    static DirectoryValue List(std::vector<DirectoryValue> elements, std::int64_t lowerBound = 0);

    Kind kind() const { return kind_; }
    bool IsList() const { return kind_ == Kind::List; }
    bool IsText() const { return kind_ == Kind::Text; }

    // The ordinary value-to-text rule: a text as it is, empty and null as empty text, a number or
    // a boolean in its text form; a list, an object or a value with no text form has none.
    std::optional<std::string> ToText() const;

    // For a list: the bounds and the element at an index, or null where the list holds no such
    // index. UpperBound() is LowerBound() - 1 for an empty list.
    std::int64_t LowerBound() const { return lowerBound_; }
    std::int64_t UpperBound() const;
    const DirectoryValue* Element(std::int64_t index) const;
    const std::vector<DirectoryValue>& Elements() const { return elements_; }

    friend bool operator==(const DirectoryValue&, const DirectoryValue&) = default;

private:
    explicit DirectoryValue(Kind kind) : kind_(kind) {}

    Kind kind_ = Kind::Empty;
    std::string text_;
    std::int64_t integer_ = 0;
    double real_ = 0;
    bool boolean_ = false;
    std::int64_t lowerBound_ = 0;
    std::vector<DirectoryValue> elements_;
};

} // namespace quindral
