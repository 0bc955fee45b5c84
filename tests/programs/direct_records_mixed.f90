! Unformatted direct access: records of integers, reals, characters and
! arrays written out of order, some written again, read back in another
! order; the file is compared byte for byte.
program direct_records_mixed
  implicit none
  integer :: i, k, n(3)
  real(8) :: x
  real :: y(2)
  character(len=5) :: c
  integer(2) :: h
  open (20, file='mixed.bin', access='direct', form='unformatted', recl=32, status='replace')
  do i = 6, 1, -2
    write (20, rec=i) i, real(i, 8) / 4, 'rec' // achar(48 + i), [i, 2*i, 3*i]
  end do
  do i = 1, 5, 2
    write (20, rec=i) -i, [1.5 * i, -0.5 * i], int(i * 100, 2)
  end do
  write (20, rec=4) 44, 4.75d0, 'again', [7, 8, 9]
  do i = 2, 6, 2
    read (20, rec=i) k, x, c, n
    print '(i3, f8.3, 1x, a, 3i4)', k, x, c, n
  end do
  do i = 5, 1, -2
    read (20, rec=i) k, y, h
    print '(i3, 2f8.2, i6)', k, y, h
  end do
  read (20, rec=6) k, (n(i), i = 1, 2)
  print '(3i4)', k, n(1:2)
  close (20)
end program direct_records_mixed
