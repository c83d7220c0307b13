# Read by ctest after the case list: a Windows case passes only when gtest
# reports that it passed, so a case that Wine never started or that was
# filtered away cannot pass by its exit code alone.
if(QLR_WINDOWS_CASES)
  set_tests_properties(${QLR_WINDOWS_CASES} PROPERTIES
                       PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test"
                       FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endif()
