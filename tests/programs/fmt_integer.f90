! Integer editing: Iw, Iw.m, I0, Bw.m, Ow, Zw, sign control.
program fmt_integer
  implicit none
  integer :: i(4) = [0, 7, -42, 123456]
  integer(8) :: k = -9000000000_8
  write (*, '(4i8)') i
  write (*, '(4i6.3)') i
  write (*, '(i0, 1x, i0, 1x, i0)') i(2:4)
  write (*, '(b12.10, o8, z8)') 37, 37, 255
  write (*, '(sp, i5, ss, i5, s, i5)') 5, 5, 5
  write (*, '(i20)') k
  write (*, '(i3)') 12345
end program fmt_integer
