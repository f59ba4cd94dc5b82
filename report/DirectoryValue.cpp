#include "DirectoryValue.h"

#include <cstdio>

namespace quindral {

DirectoryValue DirectoryValue::Text(std::string text) {
    DirectoryValue value(Kind::Text);
    value.text_ = std::move(text);
    return value;
}

DirectoryValue DirectoryValue::Integer(std::int64_t number) {
    DirectoryValue value(Kind::Integer);
    value.integer_ = number;
    return value;
}

DirectoryValue DirectoryValue::Real(double number) {
    DirectoryValue value(Kind::Real);
    value.real_ = number;
    return value;
}

DirectoryValue DirectoryValue::Boolean(bool flag) {
    DirectoryValue value(Kind::Boolean);
    value.boolean_ = flag;
    return value;
}

DirectoryValue DirectoryValue::List(std::vector<DirectoryValue> elements, std::int64_t lowerBound) {
    DirectoryValue value(Kind::List);
    value.elements_ = std::move(elements);
    value.lowerBound_ = lowerBound;
    return value;
}

std::int64_t DirectoryValue::UpperBound() const {
    return lowerBound_ + static_cast<std::int64_t>(elements_.size()) - 1;
}

const DirectoryValue* DirectoryValue::Element(std::int64_t index) const {
    if (kind_ != Kind::List || index < lowerBound_ || index > UpperBound()) {
        return nullptr;
    }
    return &elements_[static_cast<std::size_t>(index - lowerBound_)];
}

std::optional<std::string> DirectoryValue::ToText() const {
    switch (kind_) {
    case Kind::Empty:
    case Kind::Null:
        return std::string();
    case Kind::Text:
        return text_;
    case Kind::Integer:
        return std::to_string(integer_);
    case Kind::Real: {
        // Fifteen significant digits, as a double's text form is usually shown: 0.1 stays "0.1".
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.15G", real_);
        return std::string(buffer);
    }
    case Kind::Boolean:
        return std::string(boolean_ ? "True" : "False");
    case Kind::Object:
    case Kind::List:
    case Kind::NoTextForm:
        break;
    }
    return std::nullopt;
}

} // namespace quindral
