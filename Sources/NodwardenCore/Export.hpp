#pragma once

/// The core is a shared library built with hidden visibility. Its headers open the project's
/// namespace as `namespace NODWARDEN_CORE_EXPORT nodwarden`, so what they declare is the library's
/// interface, and what its .cpp files keep to themselves stays out of the dynamic symbol table.
/// Only GCC builds hide the rest (see the library's CMakeLists.txt); clang builds export it all.
#define NODWARDEN_CORE_EXPORT [[gnu::visibility("default")]]
