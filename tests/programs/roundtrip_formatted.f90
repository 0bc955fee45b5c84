! Values written with enough digits read back to the same bits.
program roundtrip_formatted
  implicit none
  real :: x(4) = [1.0/3.0, 1.0e-30, 3.4e38, -7.125]
  real :: y(4)
  real(8) :: d(3) = [1.0d0/7.0d0, 2.0d-300, 1.7976931348623157d308]
  real(8) :: e(3)
  character(len=200) :: buf
  integer :: i
  write (buf, '(4es16.8e2)') x
  read (buf, '(4e16.8)') y
  write (*, '(4l2)') (x(i) == y(i), i = 1, 4)
  write (buf, '(3es25.17e3)') d
  read (buf, '(3e25.17)') e
  write (*, '(3l2)') (d(i) == e(i), i = 1, 3)
end program roundtrip_formatted
