! Every integer, real and logical kind in an unformatted record.
program unformatted_kinds
  implicit none
  integer(1) :: i1 = -5
  integer(2) :: i2 = 300
  integer(8) :: i8 = 123456789012_8
  real(4) :: r4 = 1.25
  real(16) :: r16 = 3.0q0
  logical :: l = .true.
  integer(1) :: j1
  integer(2) :: j2
  integer(8) :: j8
  real(4) :: s4
  real(16) :: s16
  logical :: m
  open (32, file='k.bin', form='unformatted', status='replace')
  write (32) i1, i2, i8, r4, r16, l
  rewind (32)
  read (32) j1, j2, j8, s4, s16, m
  write (*, '(i4, i6, i14, f6.2, f6.2, l2)') j1, j2, j8, s4, real(s16, 8), m
  close (32)
end program unformatted_kinds
