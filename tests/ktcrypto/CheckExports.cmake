# The shared library exports exactly its fifteen plain C names and nothing else.
# cmake -DLIBRARY=<libKtCrypto.so> -DNM=<nm> -P CheckExports.cmake
set(expected
  IsSupportKtCryp KtCrypInit KtCrypUninit KtCryptDestroyKey KtCryptGenKey KtDecrypt
  KtDecryptByKey KtEncrypt KtEncryptByKey KtEncryptByKeyEz KtExportPrivateKey
  KtExportPublicKey KtFreeCryptBuffer KtImportPublicKey KtInstallCryptEnpack)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found)
foreach(line ${lines})
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${found}")
