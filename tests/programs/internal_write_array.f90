! Writing an internal file that is a character array: one record per
! element, the slash moving to the next element.
program internal_write_array
  implicit none
  character(len=12) :: recs(3)
  integer :: i
  recs = 'zzzzzzzzzzzz'
  write (recs, '(i4, /, a, /, f8.3)') 17, 'mid', 2.5
  do i = 1, 3
    write (*, '("[", a, "]")') recs(i)
  end do
end program internal_write_array
