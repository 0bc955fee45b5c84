! Output corners: T past the end of what was written, X at the end of a
! record, asterisks on overflow of every numeric descriptor, A wider than
! the item.
program fmt_output_corners
  implicit none
  write (*, '(a, t8, a)') 'ab', 'cd'
  write (*, '(a, 3x)') 'xy'
  write (*, '(i2, f4.1, e7.1, "|")') 123, 99.99, 1.0e10
  write (*, '(a8, "|", a2, "|")') 'abc', 'abcdef'
  write (*, '(tr3, a, tl5, a)') 'hello', '!'
  write (*, '(es8.1, 1x, en9.1)') 0.0, 0.0
end program fmt_output_corners
