! A and L editing, with and without widths, truncation and padding.
program fmt_char_logical
  implicit none
  character(len=5) :: s = 'hello'
  write (*, '(a, "|", a3, "|", a8, "|")') s, s, s
  write (*, '(l1, l4, 1x, l2)') .true., .false., .true.
  write (*, '("quote''s", 2x, a)') 'end'
end program fmt_char_logical
