#include "FetchAttributes.h"

#include "trace/Step.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quindral {

namespace {

constexpr std::array<std::string_view, 4> kLeadingAttributes = {"dnsHostName", "serverName",
                                                                "ldapServiceName", "dsServiceName"};
constexpr std::array<std::string_view, 3> kNamingContextAttributes = {
    "defaultNamingContext", "schemaNamingContext", "configurationNamingContext"};

std::string Label(std::string_view attributeName) {
    std::string label(attributeName);
    label += ": ";
    return label;
}

DirectoryValue Read(const DirectoryObject* reader, std::string_view attributeName) {
    if (reader == nullptr) {
        throw std::runtime_error("nothing bound");
    }
    auto value = reader->Get(attributeName);
    if (!value) {
        throw std::runtime_error("attribute not readable");
    }
    return std::move(*value);
}

std::string ToText(const DirectoryValue& value) {
    auto text = value.ToText();
    if (!text) {
        throw std::runtime_error("value has no text form");
    }
    return std::move(*text);
}

// One step: the attribute's line, or no line at all when it cannot be read or shown as text.
void TraceSingleValue(const DirectoryObject* reader, std::string_view attributeName,
                      TraceSink& trace) {
    RunStep([&] {
        const std::string text = ToText(Read(reader, attributeName));
        trace.LogTrace("  " + Label(attributeName) + text, kOneLine);
    });
}

// A list as a heading line and one line per value; a single text on the heading line; anything
// else as "<null>".
void TraceListing(const DirectoryValue& holder, std::string_view attributeName, TraceSink& trace) {
    const std::string label = Label(attributeName);
    if (holder.IsList()) {
        RunStep([&] { trace.LogTrace("  " + label, kOneLine); });
        // The walk runs from index 0 to the upper bound. An index below the list's lower bound
        // holds no element and gives no line, so the walk starts where the elements do.
        const std::int64_t last = holder.UpperBound();
        for (std::int64_t index = std::max<std::int64_t>(0, holder.LowerBound()); index <= last;
             ++index) {
            RunStep([&] {
                const DirectoryValue* element = holder.Element(index);
                if (element == nullptr) {
                    throw std::out_of_range("no element at index");
                }
                trace.LogTrace("    " + ToText(*element), kOneLine);
            });
        }
    } else if (holder.IsText()) {
        RunStep([&] { trace.LogTrace("  " + label + ToText(holder), kOneLine); });
    } else {
        RunStep([&] { trace.LogTrace("  " + label + "<null>", kOneLine); });
    }
}

} // namespace

void FetchAttributes(std::string_view providerPrefix, Directory& directory,
                     TraceSink& trace) noexcept {
    std::shared_ptr<DirectoryObject> object;
    std::shared_ptr<DirectoryObject> reader;
    DirectoryValue holder = DirectoryValue::Empty();

    RunStep([&] { trace.LogTrace("", kStartRun); });
    RunStep([&] { object = directory.Bind(std::string(providerPrefix) + "://rootDSE"); });
    RunStep([&] {
        if (object == nullptr) {
            throw std::runtime_error("nothing bound");
        }
        auto path = object->ADsPath();
        if (!path) {
            throw std::runtime_error("no path");
        }
        trace.LogTrace("Contacting " + *path, kOneLine);
    });
    RunStep([&] { reader = object; });

    for (const auto attributeName : kLeadingAttributes) {
        TraceSingleValue(reader.get(), attributeName, trace);
    }

    RunStep([&] { holder = Read(reader.get(), "namingContexts"); });
    TraceListing(holder, "namingContexts", trace);
    RunStep([&] { holder = DirectoryValue::Empty(); });

    for (const auto attributeName : kNamingContextAttributes) {
        TraceSingleValue(reader.get(), attributeName, trace);
    }

    RunStep([&] { holder = Read(reader.get(), "altServer"); });
    TraceListing(holder, "altServer", trace);

    RunStep([&] { reader.reset(); });
}

} // namespace quindral
