# A PIN in a pkcs11: URI would reach command lines and files that any local user can read; the PIN
# belongs in ARGB_SIGNING_PASSWORD. Included by the configuration and by the package steps.
string(CONCAT ARGB_KEY_PIN_REFUSAL "ARGB_SIGNING_KEY holds a PIN: leave it out of the URI and give "
              "it in ARGB_SIGNING_PASSWORD when packaging")

# Whether the URI holds pin-value or pin-source, in its path or its query, in any case, its
# letters percent-encoded or not.
function(argb_key_holds_pin uri result)
  string(TOLOWER "${uri}" uri)
  string(REGEX MATCHALL "%[0-9a-f][0-9a-f]" escapes "${uri}")
  list(REMOVE_DUPLICATES escapes)
  foreach(escape IN LISTS escapes)
    string(SUBSTRING "${escape}" 1 2 hex)
    math(EXPR code "0x${hex}")
    if(code GREATER 0 AND code LESS 128)
      string(ASCII ${code} character)
      string(TOLOWER "${character}" character)
      string(REPLACE "${escape}" "${character}" uri "${uri}")
    endif()
  endforeach()
  if(uri MATCHES "pin-(value|source)")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
