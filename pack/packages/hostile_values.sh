# shellcheck shell=bash disable=SC2034
# Metadata values that try to run code, add install scripts or control
# fields, or break out of quotes, in each format a package holds. Sourced by
# the package tests: each must either come out of a package exactly as given
# or be refused with status 2. $marker is the file that a value that ran
# would make; set it before sourcing.
: "${marker:?set marker to the file a value that ran would make}"
hostile_values=(
  "%(touch $marker)"
  "%{lua: os.execute('touch $marker')}"
  "%define evil 1"
  "%post"
  $'ok\n\n%post\ntouch '"$marker"
  "\$(touch $marker)"
  "\`touch $marker\`"
  "a; touch $marker"
  $'one\nPre-Depends: evil'
  "it's \"quoted\" \\ <b>&amp;</b>"
)
