# Joins the manual's pieces (PARTS, a ;-list) into one text file OUT.
file(WRITE ${OUT} "")
foreach(part ${PARTS})
  file(READ ${part} text)
  file(APPEND ${OUT} "${text}\n")
endforeach()
