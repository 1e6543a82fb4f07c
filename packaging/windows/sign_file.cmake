# Authenticode-signs one file in place with osslsigncode:
#   cmake -DKV_OSSLSIGNCODE=... -DKV_SIGN_CERT=... -DKV_SIGN_KEY=... [-DKV_SIGN_TIMESTAMP_URL=...]
#         -DKV_SIGN_FILE=... -P sign_file.cmake
# The pack script runs it for the program and the NSIS plug-ins, makensis for the setup
# program and its uninstaller.
set(timestamp "")
if(KV_SIGN_TIMESTAMP_URL)
    set(timestamp -ts ${KV_SIGN_TIMESTAMP_URL})
endif()
execute_process(
    COMMAND ${KV_OSSLSIGNCODE} sign -certs ${KV_SIGN_CERT} -key ${KV_SIGN_KEY}
        -n vorn_kvusb -h sha256 ${timestamp} -in ${KV_SIGN_FILE} -out ${KV_SIGN_FILE}.signed
    OUTPUT_QUIET
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${KV_SIGN_FILE}.signed)
    message(FATAL_ERROR "osslsigncode could not sign ${KV_SIGN_FILE}")
endif()
file(RENAME ${KV_SIGN_FILE}.signed ${KV_SIGN_FILE})
