! Formats built at run time in character variables.
program fmt_variable_format
  implicit none
  character(len=20) :: f
  integer :: w
  do w = 3, 6
    write (f, '("(i", i0, ".", i0, ")")') w, w - 1
    write (*, f) 7
  end do
  f = '(3(a, :, "-"))'
  write (*, f) 'a', 'b'
end program fmt_variable_format
