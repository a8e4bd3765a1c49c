ptf #
a = #a       # b = #b#
again #a#
