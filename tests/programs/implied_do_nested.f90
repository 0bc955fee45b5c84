! Nested implied DO in output and input lists over a 2-D array.
program implied_do_nested
  implicit none
  integer :: m(3, 2), i, j
  character(len=30) :: buf
  do j = 1, 2
    do i = 1, 3
      m(i, j) = 10 * i + j
    end do
  end do
  write (*, '(3i4)') ((m(i, j), i = 1, 3), j = 1, 2)
  write (*, '(2i4)') ((m(i, j), j = 1, 2), i = 1, 3)
  buf = '9 8 7 6 5 4'
  read (buf, *) ((m(i, j), j = 1, 2), i = 1, 3)
  write (*, '(6i3)') m
end program implied_do_nested
