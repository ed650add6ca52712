# add_tool(NAME FRAMEWORKS ...)
#
# A tool is a folder with a core library (every .cpp but main.cpp), a one-line main.cpp, and
# tests under tests/ (*_test.cpp) and benchmarks under bench/ (*_bench.cpp). Platform bridges
# come in threes: NAME.mm for the real AppKit, NAME_sim.cpp for the simulated macOS, NAME_linux.cpp
# for the Linux desktop; only the one that matches the platform is built. A build of the real
# tools installs the executable and its manual page, man/NAME.1; a build against the simulated
# platform installs nothing, since its tools act on no desktop.
function(add_tool name)
  cmake_parse_arguments(TOOL "" "" "FRAMEWORKS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  set(mm_sources "")
  if(USE_MACSIM)
    list(FILTER sources EXCLUDE REGEX "_linux\\.cpp$")
  elseif(APPLE)
    list(FILTER sources EXCLUDE REGEX "_(sim|linux)\\.cpp$")
    file(GLOB mm_sources CONFIGURE_DEPENDS ${dir}/*.mm)
  else()
    list(FILTER sources EXCLUDE REGEX "_sim\\.cpp$")
  endif()

  # The bridges are written for automatic reference counting, as the syntax check reads them.
  set_source_files_properties(${mm_sources} PROPERTIES COMPILE_OPTIONS "-fobjc-arc")
  add_library(${name}_core STATIC ${sources} ${mm_sources})
  target_include_directories(${name}_core PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name}_core PUBLIC base)
  if(USE_MACSIM)
    target_link_libraries(${name}_core PUBLIC macsim)
  elseif(APPLE)
    foreach(framework IN LISTS TOOL_FRAMEWORKS)
      target_link_libraries(${name}_core PUBLIC "-framework ${framework}")
    endforeach()
  else()
    target_link_libraries(${name}_core PUBLIC xdesk)
  endif()

  add_executable(${name} ${dir}/main.cpp)
  target_link_libraries(${name} PRIVATE ${name}_core)
  # On the Linux desktop the process starts by sending standard error nowhere
  # (xdesk/src/process_start.cpp).
  if(NOT USE_MACSIM AND NOT APPLE)
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:xdesk_process_start>)
  endif()
  # Off Apple, the C++ runtime goes into the tool itself, and only the shared libraries that the
  # linked code calls are recorded as needed. Loading libstdc++, libm and libgcc_s at every start
  # was most of what a tool cost beyond /bin/true (bench/README.md). The sanitizers bring their
  # own runtime, which wants the shared one.
  if(NOT APPLE)
    target_link_options(${name} PRIVATE LINKER:--as-needed)
    if(NOT SANITIZE)
      target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
  endif()
  if(NOT USE_MACSIM)
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/man/${name}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()

  if(BUILD_TESTING AND USE_MACSIM)
    file(GLOB tests CONFIGURE_DEPENDS ${dir}/tests/*_test.cpp)
    if(tests)
      add_executable(${name}_tests ${tests})
      target_link_libraries(${name}_tests PRIVATE ${name}_core macsim_child GTest::gtest GTest::gmock
                                                  GTest::gtest_main nlohmann_json::nlohmann_json)
      gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60)
    endif()
    file(GLOB benches CONFIGURE_DEPENDS ${dir}/bench/*_bench.cpp)
    if(benches AND benchmark_FOUND)
      add_executable(${name}_bench ${benches})
      target_link_libraries(${name}_bench PRIVATE ${name}_core benchmark::benchmark_main)
    endif()
  endif()
endfunction()
