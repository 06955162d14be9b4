# Native builds use the distribution's packages; the mingw build compiles
# pugixml and minizip from the Debian source packages that scripts/setup.sh
# fetched into third_party/ (never committed).
set(KV_THIRD_PARTY ${PROJECT_SOURCE_DIR}/third_party)

find_package(Threads REQUIRED)

if(WIN32)
  find_library(KV_ZLIB NAMES libz.a z REQUIRED)
  add_library(kv_zlib INTERFACE)
  target_link_libraries(kv_zlib INTERFACE ${KV_ZLIB})

  if(NOT EXISTS ${KV_THIRD_PARTY}/pugixml/src/pugixml.cpp)
    message(FATAL_ERROR "pugixml sources missing: run scripts/setup.sh")
  endif()
  add_library(kv_pugixml STATIC ${KV_THIRD_PARTY}/pugixml/src/pugixml.cpp)
  target_include_directories(kv_pugixml SYSTEM PUBLIC ${KV_THIRD_PARTY}/pugixml/src)

  set(mz ${KV_THIRD_PARTY}/zlib/contrib/minizip)
  add_library(kv_minizip STATIC ${mz}/zip.c ${mz}/unzip.c ${mz}/ioapi.c ${mz}/iowin32.c)
  target_include_directories(kv_minizip SYSTEM PUBLIC ${mz})
  target_compile_options(kv_minizip PRIVATE -w)
  target_link_libraries(kv_minizip PUBLIC kv_zlib)

  add_library(kv_gtest_main INTERFACE)
  if(CMAKE_CROSSCOMPILING AND EXISTS /usr/src/googletest/CMakeLists.txt)
    # GoogleTest cross-built from the distribution's sources.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    target_link_libraries(kv_gtest_main INTERFACE gtest_main gmock)
  else()
    # Building on Windows itself: an installed GoogleTest (MSYS2 package).
    find_package(GTest REQUIRED)
    target_link_libraries(kv_gtest_main INTERFACE GTest::gtest_main GTest::gmock)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  find_package(ZLIB REQUIRED)
  add_library(kv_zlib INTERFACE)
  target_link_libraries(kv_zlib INTERFACE ZLIB::ZLIB)

  find_package(pugixml REQUIRED)
  add_library(kv_pugixml INTERFACE)
  target_link_libraries(kv_pugixml INTERFACE pugixml::pugixml)

  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(kv_minizip INTERFACE)
  target_link_libraries(kv_minizip INTERFACE PkgConfig::MINIZIP kv_zlib)

  # The HTTP transport's native adapter, and the real server its tests run.
  find_package(CURL REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  find_package(OpenSSL REQUIRED)  # MD5 for the identifiers port; the test server's certificate
  # korvan-service
  find_package(SQLite3 REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)  # the PostgreSQL backend
  find_package(GTest REQUIRED)
  add_library(kv_gtest_main INTERFACE)
  target_link_libraries(kv_gtest_main INTERFACE GTest::gtest_main GTest::gmock)
  if(KV_BENCH)
    find_package(benchmark)
  endif()
endif()
