# Copies the web assets named below from SRC (node_modules) into the flat folder DST.
# A file that is missing is reported and skipped: the pages are built without it.
set(files
    "katex/dist/katex.min.js"
    "katex/dist/katex.min.css"
    "katex/dist/contrib/auto-render.min.js"
    "@highlightjs/cdn-assets/highlight.min.js"
    "@highlightjs/cdn-assets/styles/github.min.css"
    "@highlightjs/cdn-assets/styles/github-dark.min.css"
    "mermaid/dist/mermaid.min.js"
    "swagger-ui-dist/swagger-ui.css"
    "swagger-ui-dist/swagger-ui-bundle.js"
    "swagger-ui-dist/swagger-ui-standalone-preset.js")
file(GLOB fonts "${SRC}/katex/dist/fonts/*.woff2")
set(licences
    "katex/LICENSE=katex.LICENSE"
    "@highlightjs/cdn-assets/LICENSE=highlight.js.LICENSE"
    "mermaid/LICENSE=mermaid.LICENSE"
    "swagger-ui-dist/LICENSE=swagger-ui.LICENSE"
    "swagger-ui-dist/NOTICE=swagger-ui.NOTICE")

file(MAKE_DIRECTORY "${DST}" "${DST}/licenses")
foreach(f IN LISTS files)
  if(EXISTS "${SRC}/${f}")
    get_filename_component(name "${f}" NAME)
    file(COPY_FILE "${SRC}/${f}" "${DST}/${name}" ONLY_IF_DIFFERENT)
  else()
    message(WARNING "web asset missing (run scripts/setup.sh): ${f}")
  endif()
endforeach()
foreach(f IN LISTS fonts)
  get_filename_component(name "${f}" NAME)
  file(COPY_FILE "${f}" "${DST}/${name}" ONLY_IF_DIFFERENT)
endforeach()
foreach(pair IN LISTS licences)
  string(REPLACE "=" ";" parts "${pair}")
  list(GET parts 0 from)
  list(GET parts 1 to)
  if(EXISTS "${SRC}/${from}")
    file(COPY_FILE "${SRC}/${from}" "${DST}/licenses/${to}" ONLY_IF_DIFFERENT)
  endif()
endforeach()
