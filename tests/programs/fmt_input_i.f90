! Integer input: I, B, O, Z, blanks as null or zero, signs.
program fmt_input_i
  implicit none
  integer :: i, j, k, m
  character(len=40) :: line
  line = '  12 -345  +7 1 2'
  read (line, '(4i5)') i, j, k, m
  write (*, '(4i8)') i, j, k, m
  read (line, '(bz, 4i5)') i, j, k, m
  write (*, '(4i8)') i, j, k, m
  line = '1011 777 ff FF'
  read (line, '(b4, 1x, o3, 1x, z2, 1x, z2)') i, j, k, m
  write (*, '(4i8)') i, j, k, m
end program fmt_input_i
