! L and A editing with widths, X, T, TL, TR positioning and the slash.
program fmt_l_a_x_t
  implicit none
  character(len=6) :: w = 'abcdef'
  write (*, '(l1, l4, a, a3, a9)') .true., .false., w, w, w
  write (*, '(t10, a, tl4, a, tr2, a)') 'XY', 'Z', 'Q'
  write (*, '(a, 3x, a, /, 2x, a)') 'one', 'two', 'three'
  write (*, '(a, t2, a)') 'abcdef', '--'
  write (*, '("lit''eral", 1x, ''dq"x'')')
end program fmt_l_a_x_t
