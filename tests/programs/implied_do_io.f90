! I/O lists with implied DO, nested implied DO, sections and whole arrays:
! every group goes through the entry and its transfer calls.
program implied_do_io
  implicit none
  integer :: a(3, 2), i, j
  do j = 1, 2
    do i = 1, 3
      a(i, j) = 10 * i + j
    end do
  end do
  write (*, '(6i3)') ((a(i, j), i = 1, 3), j = 1, 2)
  write (*, '(6i3)') a
  write (*, '(3i3)') a(1:3:2, 2), a(2, 1)
  write (*, '(i3)') (i * 2, i = 1, 3)
  write (*, '(a, 3i3, a)') '<', (a(i, 1), i = 1, 3), '>'
end program implied_do_io
