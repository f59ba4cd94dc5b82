#pragma once

#include "report/Directory.h"

namespace quindral {

// The directory service on Windows: Active Directory Service Interfaces, over COM. Binds a path
// such as "GC://rootDSE" with the platform's bind-by-name service and reads attributes through
// the object's IADs interface. COM must be initialised on the calling thread.
class AdsiDirectory final : public Directory {
public:
    std::shared_ptr<DirectoryObject> Bind(std::string_view path) override;
};

} // namespace quindral
