! A tour of the library through a Fortran program: a table of numbers is
! written to a formatted file, read back and summed, then written to an
! unformatted file and read back once more.
program tour
  implicit none
  integer, parameter :: n = 6
  integer :: i, u, ios, k(n)
  real(8) :: x(n), y(n), z(n)
  character(len=40) :: title

  ! The table: n, its square root and its reciprocal.
  open (newunit=u, file='tour_table.txt', status='replace')
  write (u, '(a)') '     n        sqrt(n)           1/n'
  do i = 1, n
    write (u, '(i6, 2f15.8)') i, sqrt(real(i, 8)), 1.0d0 / i
  end do
  close (u)

  ! Read it back, header first, until the end of the file.
  open (newunit=u, file='tour_table.txt', status='old', action='read')
  read (u, '(a)') title
  i = 0
  do
    read (u, '(i6, 2f15.8)', iostat=ios) k(i + 1), x(i + 1), y(i + 1)
    if (ios /= 0) exit
    i = i + 1
    if (i == n) exit
  end do
  close (u)
  write (*, '(a, i0, a)') 'read ', i, ' rows of the table:'
  write (*, '(a)') trim(title)
  write (*, '(i6, 2f15.8)') (k(i), x(i), y(i), i = 1, n)
  write (*, '(a, f12.8)') 'sum of the square roots: ', sum(x)

  ! The same numbers, unformatted: written whole, read back into z.
  open (newunit=u, file='tour_data.bin', form='unformatted', status='replace')
  write (u) n, x
  rewind (u)
  read (u) i, z
  close (u, status='delete')
  write (*, '(a, i0, a, l1)') 'unformatted record of ', i, ' values read back equal: ', all(z == x)
end program tour
