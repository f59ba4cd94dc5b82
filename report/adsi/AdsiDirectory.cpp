#include "AdsiDirectory.h"

#include "ComHandles.h"
#include "VariantValue.h"
#include "win32/WideText.h"

#include <activeds.h>

namespace quindral {

namespace {

// IADs, {FD8256D0-FD15-11CE-ABC4-02608C9E7553}.
constexpr IID kIidIADs = {
    0xFD8256D0, 0xFD15, 0x11CE, {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};

class AdsiObject final : public DirectoryObject {
public:
    explicit AdsiObject(ComPtr<IADs> object) : object_(std::move(object)) {}

    std::optional<std::string> ADsPath() const override {
        UniqueBstr path;
        if (FAILED(object_->get_ADsPath(path.Out())) || path.get() == nullptr) {
            return std::nullopt;
        }
        return Utf8FromWide(path.view());
    }

    std::optional<DirectoryValue> Get(std::string_view attributeName) const override {
        UniqueBstr name(WideFromUtf8(attributeName));
        UniqueVariant value;
        if (name.get() == nullptr || FAILED(object_->Get(name.get(), value.get()))) {
            return std::nullopt;
        }
        return ValueFromVariant(*value);
    }

private:
    ComPtr<IADs> object_;
};

} // namespace

std::shared_ptr<DirectoryObject> AdsiDirectory::Bind(std::string_view path) {
    const std::wstring widePath = WideFromUtf8(path);
    ComPtr<IADs> object;
    if (FAILED(ADsGetObject(widePath.c_str(), kIidIADs, object.OutVoid())) || !object) {
        return nullptr;
    }
    return std::make_shared<AdsiObject>(std::move(object));
}

} // namespace quindral
