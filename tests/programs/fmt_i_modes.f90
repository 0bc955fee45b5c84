! Integer editing I, B, O, Z with widths, minimum digits, signs and
! field overflow.
program fmt_i_modes
  implicit none
  integer :: k = 1234
  integer(8) :: big = -9876543210_8
  integer(1) :: small = -7
  write (*, '(i6, i6.5, i3, i0)') k, k, k, k
  write (*, '(sp, i6, ss, i6, s, i6)') k, k, -k
  write (*, '(b12, b12.12, o8, o8.6, z6, z6.4)') 10, 10, 64, 64, 255, 255
  write (*, '(i15, i4)') big, small
  write (*, '(i5.0, "|")') 0
  write (*, '(z0, 1x, o0, 1x, b0)') 4095, 8, 5
end program fmt_i_modes
